#!/usr/bin/env bash
# What rendering in strips costs where the whole clip would fit: a generated 1080p clip of 100
# frames as 8-bit PNG (strips through the scratch file) and as float EXR (zip; strips read from
# the files), each rendered with every frame in memory and in strips (--memory small enough for
# about 8 strips), taken in turn (whole, strips, whole, strips, ...) so that the ratio of each pair
# sees the same machine; and strips on 1 thread against 2. Prints the median of each and the
# ratios, and checks that each pair of plates is the same.
#
# usage: bench/strip-cost-bench.sh [--build-dir DIR] [--work DIR] [--runs N]
#   --build-dir  where framemeld is built (default build/bench; build/ci works too)
#   --work       where the clips and plates go (default build/strip-cost-bench; about 2.5 GB)
#   --runs       pairs of runs (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/strip-cost-bench
runs=3
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
tool=$(realpath "$build_dir/cli/framemeld")
[[ -x $tool ]] || { echo "no framemeld in $build_dir" >&2; exit 1; }
for needed in ffmpeg oiiotool /usr/bin/time; do
  command -v "$needed" >/dev/null || { echo "$needed is missing (scripts/setup.sh --bench)" >&2; exit 1; }
done

# A textured still (a Mandelbrot), a box moving across it and fresh grain in every frame.
mkdir -p "$work/png" "$work/exr"
if [[ ! -f $work/exr/f.0100.exr ]]; then
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "mandelbrot=size=1920x1080:rate=25:end_pts=0.01" \
    -frames:v 1 "$work/bg.png"
  ffmpeg -nostdin -loglevel error -y -loop 1 -framerate 25 -i "$work/bg.png" \
    -f lavfi -i "color=c=orange:size=260x260:rate=25" \
    -filter_complex "[0][1]overlay=x='mod(t*400,1920)':y=400,noise=alls=10:allf=t" \
    -frames:v 100 -start_number 1 "$work/png/f.%04d.png"
  ffmpeg -nostdin -loglevel error -y -framerate 25 -start_number 1 -i "$work/png/f.%04d.png" \
    -vf format=gbrpf32le -c:v exr -compression zip16 -format float -start_number 1 \
    "$work/exr/f.%04d.exr"
fi

# once LABEL INPUT PLATE ARGS...: one run under GNU time, appending "wall peak-KiB" to LABEL.
once() {
  local label=$1 input=$2 plate=$3
  shift 3
  /usr/bin/time -f "%e %M" -o "$work/time.txt" \
    "$tool" "$input" -o "$work/$plate" --every 1 "$@" 2>"$work/$label.log"
  cat "$work/time.txt" >>"$work/$label.runs"
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
column_median() { awk -v c="$2" '{print $c}' "$work/$1.runs" | median; }
# pair_ratios A B: the median of the run-by-run ratios A/B.
pair_ratios() { paste "$work/$1.runs" "$work/$2.runs" | awk '{print $1 / $3}' | median; }

rm -f "$work"/*.runs
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
for ((i = 0; i < runs; ++i)); do
  once png-whole "$work/png/f.%04d.png" png-whole.png
  once png-strips "$work/png/f.%04d.png" png-strips.png --memory 160M
  once exr-whole "$work/exr/f.%04d.exr" exr-whole.exr
  once exr-strips "$work/exr/f.%04d.exr" exr-strips.exr --memory 560M
  once exr-strips-1t "$work/exr/f.%04d.exr" exr-strips-1t.exr --memory 560M --threads 1
  once png-strips-1t "$work/png/f.%04d.png" png-strips-1t.png --memory 160M --threads 1
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | median s | median peak MiB | render |"
echo "|---|---:|---:|---|"
for label in png-whole png-strips png-strips-1t exr-whole exr-strips exr-strips-1t; do
  printf '| %s | %.2f | %.0f | %s |\n' "$label" "$(column_median "$label" 1)" \
    "$(awk "BEGIN{print $(column_median "$label" 2) / 1024}")" \
    "$(grep -o '[a-z ]*strips of [0-9]* rows' "$work/$label.log" || echo "one render")"
done
echo
echo "strips / whole, 8-bit PNG (scratch file): $(pair_ratios png-strips png-whole)x (wanted at most 1.25x)"
echo "strips / whole, float EXR (from the files): $(pair_ratios exr-strips exr-whole)x (wanted at most 1.25x)"
echo "1 thread / 2 threads in strips, PNG: $(pair_ratios png-strips-1t png-strips)x; EXR: $(pair_ratios exr-strips-1t exr-strips)x (wanted at least 1.8x)"
cmp "$work/png-whole.png" "$work/png-strips.png" && echo "PNG plates identical"
oiiotool "$work/exr-whole.exr" "$work/exr-strips.exr" --diff --fail 0 --warn 0 >/dev/null &&
  echo "EXR plates identical"
