#!/usr/bin/env bash
# The cost of rendering within a memory budget: the same plate rendered with every sampled frame
# in memory (no --memory: the clip fits) and through the scratch file in strips (--memory small
# enough to force them), at 8 and 32 bits, with each run's wall time and peak resident memory
# (GNU time). Prints a Markdown table; checks that each pair of plates is the same.
#
# usage: bench/big-footage-bench.sh [--build-dir DIR] [--work DIR] [--runs N] [--every N]
#   --build-dir  where framemeld is built (default build/bench; build/ci works too)
#   --work       where the frames and plates go (default build/big-footage-bench)
#   --runs       runs per command; the fastest counts, the machine being shared (default 3)
#   --every      sample every N-th of the 795 frames (default 4: 199 frames)
#
# The clip is OpenCV's vtest.avi (package opencv-doc), 768x576, decoded once to PNG frames.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/big-footage-bench
runs=3
every=4
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
tool=$build_dir/cli/framemeld
movie=/usr/share/doc/opencv-doc/examples/data/vtest.avi
[[ -x $tool ]] || { echo "no framemeld in $build_dir" >&2; exit 1; }
[[ -f $movie ]] || { echo "$movie is missing (apt-get install opencv-doc)" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "GNU time is missing (apt-get install time)" >&2; exit 1; }

mkdir -p "$work/frames"
if [[ ! -f $work/frames/f.0795.png ]]; then
  ffmpeg -nostdin -loglevel error -y -i "$movie" "$work/frames/f.%04d.png"
fi

# run LABEL PLATE ARGS...: prints "seconds peak-KiB" of the fastest run, and its strip line.
run() {
  local label=$1 plate=$2 best="" rss="" line=""
  shift 2
  for ((i = 0; i < runs; ++i)); do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" \
      "$tool" "$work/frames/f.%04d.png" -o "$work/$plate" --every "$every" "$@" 2>"$work/log.txt"
    read -r seconds kib <"$work/time.txt"
    if [[ -z $best ]] || awk "BEGIN{exit !($seconds < $best)}"; then
      best=$seconds
      rss=$kib
      line=$(grep -o 'strips of [0-9]* rows' "$work/log.txt" || echo "one render")
    fi
  done
  printf '| %s | %s | %.2f | %.1f | %s |\n' "$label" "${*:-}" "$best" "$(awk "BEGIN{print $rss/1024}")" "$line"
  echo "$best" >"$work/$label.seconds"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | options | fastest s | peak RSS MiB | render |"
echo "|---|---|---:|---:|---|"
run whole8 whole8.png
run strips8 strips8.png --memory 64M
run tiny8 tiny8.png --memory 16M
run whole32 whole32.exr --depth 32
run strips32 strips32.exr --depth 32 --memory 256M
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v a="$(cat "$work/strips8.seconds")" -v b="$(cat "$work/whole8.seconds")" \
  'BEGIN{printf "strips / whole, 8 bits: %.2fx\n", a / b}'
awk -v a="$(cat "$work/strips32.seconds")" -v b="$(cat "$work/whole32.seconds")" \
  'BEGIN{printf "strips / whole, 32 bits: %.2fx\n", a / b}'
cmp "$work/whole8.png" "$work/strips8.png" && cmp "$work/whole8.png" "$work/tiny8.png" &&
  echo "8-bit plates identical"
oiiotool "$work/whole32.exr" "$work/strips32.exr" --diff --fail 0 --warn 0 >/dev/null &&
  echo "32-bit plates identical"
