#!/usr/bin/env bash
# A clip that cannot be held: 200 frames of 4K (3840x2160) half-float EXR (zip, 16-row blocks)
# rendered to a 32-bit plate, (1) with --memory 4G and (2) with no option inside a 4 GiB memory
# cgroup (the tool takes half of the limit), each with its wall time, CPU time and peak resident
# memory (GNU time); the two plates must be the same. Prints a Markdown table.
#
# usage: bench/budget-4k-bench.sh [--build-dir DIR] [--work DIR] [--frames N]
#   --build-dir  where framemeld is built (default build/bench; build/ci works too)
#   --work       where the frames and plates go (default build/budget-4k-bench; about 40 MB a
#                frame)
#   --frames     frames in the clip (default 200)
#
# The cgroup run needs root and a memory cgroup (v2: a writable /sys/fs/cgroup with the memory
# controller; v1: a writable memory hierarchy); it is skipped, saying why, without one.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/budget-4k-bench
frames=200
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
tool=$(realpath "$build_dir/cli/framemeld")
[[ -x $tool ]] || { echo "no framemeld in $build_dir" >&2; exit 1; }
for needed in ffmpeg /usr/bin/time; do
  command -v "$needed" >/dev/null || { echo "$needed is missing (scripts/setup.sh --bench)" >&2; exit 1; }
done

# Moving shapes over a still test pattern, with grain that differs per frame, as half EXR.
clip=$work/clip
last=$(printf '%s/f.%04d.exr' "$clip" "$frames")
if [[ ! -f $last ]]; then
  mkdir -p "$clip"
  ffmpeg -nostdin -loglevel error -y -f lavfi \
    -i "testsrc2=size=3840x2160:rate=25:duration=$((frames / 25 + 1))" \
    -vf "noise=alls=5:allf=t,format=gbrpf32le" -frames:v "$frames" \
    -c:v exr -compression zip16 -format half -start_number 1 "$clip/f.%04d.exr"
fi

# timed LABEL PLATE [PREFIX...] -- ARGS...: runs framemeld once under GNU time; prints a table row.
timed() {
  local label=$1 plate=$2
  shift 2
  local prefix=()
  while [[ $1 != -- ]]; do prefix+=("$1"); shift; done
  shift
  "${prefix[@]}" /usr/bin/time -f "%e %U %S %M" -o "$work/$label.time" \
    "$tool" "$clip/f.%04d.exr" -o "$work/$plate" --depth 32 --every 1 "$@" 2>"$work/$label.log"
  read -r wall user sys kib <"$work/$label.time"
  local budget strips summary
  budget=$(grep -o 'within a budget of [^:]*' "$work/$label.log" | sed 's/within a budget of //' || true)
  strips=$(grep -o 'in strips of [0-9]* rows' "$work/$label.log" || echo "one render")
  summary=$(grep -o 'read [0-9.]* s ([0-9.]* frames/s).*' "$work/$label.log" || true)
  printf '| %s | %s | %.1f | %.1f | %.0f | %s | %s |\n' "$label" "${budget:-?}" "$wall" \
    "$(awk "BEGIN{print $user + $sys}")" "$(awk "BEGIN{print $kib / 1024}")" "$strips" "$summary"
}

# run_in_cgroup LIMIT CMD...: runs CMD inside a new memory cgroup of LIMIT bytes.
cgroup_dir=""
make_cgroup() {
  local limit=$1 name="framemeld-bench-$$"
  if [[ -f /sys/fs/cgroup/cgroup.controllers ]] && grep -qw memory /sys/fs/cgroup/cgroup.controllers; then
    cgroup_dir=/sys/fs/cgroup/$name
    mkdir "$cgroup_dir" && echo "$limit" >"$cgroup_dir/memory.max" && echo 0 >"$cgroup_dir/memory.swap.max" 2>/dev/null || true
  else
    local own
    own=$(awk -F: '$2 ~ /(^|,)memory(,|$)/ {print $3}' /proc/self/cgroup)
    cgroup_dir=/sys/fs/cgroup/memory$own/$name
    mkdir "$cgroup_dir" && echo "$limit" >"$cgroup_dir/memory.limit_in_bytes"
  fi
}
in_cgroup() { sh -c 'echo $$ > "$0/cgroup.procs" && shift && exec "$@"' "$cgroup_dir" sh "$@"; }
cleanup() { [[ -n $cgroup_dir && -d $cgroup_dir ]] && rmdir "$cgroup_dir" 2>/dev/null || true; }
trap cleanup EXIT

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB"
echo "clip: $frames frames of 3840x2160 half EXR (zip), $(du -shL "$clip" | cut -f1) on disk"
echo
echo '| run | budget | wall s | CPU s | peak MiB | strips | the tool'"'"'s own summary |'
echo '|---|---|---:|---:|---:|---|---|'
timed memory-4g budget-4g.exr -- --memory 4G
if make_cgroup $((4 << 30)) 2>/dev/null; then
  timed cgroup-4g cgroup-4g.exr in_cgroup -- 
  if cmp -s <(oiiotool "$work/budget-4g.exr" --dumpdata 2>/dev/null | md5sum) \
            <(oiiotool "$work/cgroup-4g.exr" --dumpdata 2>/dev/null | md5sum); then
    echo; echo "the two plates have the same samples"
  else
    echo; echo "THE PLATES DIFFER"
    exit 1
  fi
else
  echo "| cgroup-4g | skipped: no writable memory cgroup here | | | | | |"
fi
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
