#!/usr/bin/env bash
# Times a whole clean plate (decode, render, encode) of a generated 1080p clip against the peers,
# all in one hyperfine run on the same frames, and prints the ratios and each command's peak
# memory:
#   framemeld at 8 bits (PNG), 16 bits (TIFF) and 32-bit float (EXR), and at 8 bits on 1 and on
#   2 threads; FFmpeg's tmedian over the whole clip; ImageMagick's -evaluate-sequence median.
#
# usage: bench/plate-bench.sh [--build-dir DIR] [--work DIR] [--runs N] [--frames N] [--no-imagemagick]
#   --build-dir  where the framemeld tool and module are built (default build/bench, the
#                'bench' preset; configured and built here when it has no framemeld yet)
#   --work       where the clip, the plates and the results go (default build/plate-bench)
#   --runs       hyperfine runs per command (default 3)
#   --frames     clip length (default 100)
#   --no-imagemagick  leave the slowest peer out (about a minute per run)
#
# The clip is made deterministically with FFmpeg's lavfi sources: a static textured background
# (a Mandelbrot still), a box moving across it, and fresh noise on every frame.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build_dir=build/bench
work=build/plate-bench
runs=3
frames=100
imagemagick=1
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --no-imagemagick) imagemagick=0; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "plate-bench: unknown argument $1" >&2; exit 2 ;;
  esac
done

# Tools: the peers and the timers are a bench set-up of their own, never needed by the tests.
for tool in hyperfine ffmpeg /usr/bin/time python3; do
  if ! command -v "$tool" >/dev/null; then
    bash scripts/setup.sh --bench
    break
  fi
done
magick_convert=$(command -v convert-im6.q16 || command -v magick || command -v convert || true)
if ((imagemagick)) && [[ -z "$magick_convert" ]]; then
  bash scripts/setup.sh --bench
  magick_convert=$(command -v convert-im6.q16 || command -v magick || command -v convert)
fi

framemeld=$build_dir/cli/framemeld
if [[ ! -x "$framemeld" ]]; then
  if [[ "$build_dir" == build/bench ]]; then
    cmake --preset bench >/dev/null
  fi
  cmake --build "$build_dir" --target framemeld Framemeld
fi
framemeld=$(cd "$(dirname "$framemeld")" && pwd)/framemeld

mkdir -p "$work"
work=$(cd "$work" && pwd)
clip=$work/clip
plates=$work/plates
memory=$work/memory
phases=$work/phases
mkdir -p "$clip" "$plates"
rm -rf "$memory" "$phases"
mkdir -p "$memory" "$phases"

# --- The clip -------------------------------------------------------------------------------
recipe="mandelbrot 1920x1080, box 260x260 0xD03020 moving, noise alls=10 seed 20260801, $frames frames"
if [[ "$(cat "$clip/recipe" 2>/dev/null)" != "$recipe" ]]; then
  echo "plate-bench: making the clip ($frames frames of 1920x1080) in $clip"
  rm -f "$clip"/*.png "$clip/recipe"
  ffmpeg -y -loglevel error -f lavfi \
    -i "mandelbrot=size=1920x1080:rate=25:start_scale=0.5:end_scale=0.5" -frames:v 1 "$clip/background.png"
  ffmpeg -y -loglevel error -loop 1 -framerate 25 -i "$clip/background.png" \
    -f lavfi -i "color=c=0xD03020:size=260x260:rate=25" \
    -filter_complex "[0:v]format=rgb24[bg];[1:v]format=rgb24[box];[bg][box]overlay=x='mod(17*n\,1660)':y='400+300*sin(n/16)',noise=alls=10:allf=t:all_seed=20260801,format=rgb24" \
    -frames:v "$frames" "$clip/f_%03d.png"
  rm -f "$clip/background.png"
  echo "$recipe" >"$clip/recipe"
fi

# --- The commands ---------------------------------------------------------------------------
# Each runs under GNU time, which appends its peak resident set (KiB) to a file of its own. The
# framemeld runs append their summary (which ends with the time spent reading, rendering and
# writing) to another, so the render's own time can be compared as well as the whole plate's.
names=()
commands=()
add() {
  local name=$1
  shift
  names+=("$name")
  commands+=("/usr/bin/time -f %M -a -o $memory/$name $*")
}
add_framemeld() {
  local name=$1
  shift
  add "$name" "$framemeld '$clip/f_%03d.png' -o $plates/$name.$* 2>>$phases/$name"
}
add_framemeld framemeld-8 "png"
add_framemeld framemeld-16 "tif --depth 16"
add_framemeld framemeld-32 "exr --depth 32"
add_framemeld framemeld-8-1thread "png --threads 1"
add_framemeld framemeld-8-2threads "png --threads 2"
add ffmpeg-tmedian "ffmpeg -y -loglevel error -i '$clip/f_%03d.png' -vf tmedian=radius=49 -frames:v 1 $plates/ffmpeg-tmedian.png"
if ((imagemagick)); then
  add imagemagick-median "env MAGICK_CONFIGURE_PATH=$root/bench/imagemagick $magick_convert '$clip/f_*.png' -evaluate-sequence median $plates/imagemagick-median.png"
fi

hyperfine_args=(--runs "$runs" --warmup 0 --export-json "$work/hyperfine.json" --style basic)
for i in "${!names[@]}"; do
  hyperfine_args+=(--command-name "${names[$i]}" "${commands[$i]}")
done

echo "plate-bench: load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
hyperfine "${hyperfine_args[@]}"
echo "plate-bench: load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- The table ------------------------------------------------------------------------------
python3 - "$work/hyperfine.json" "$memory" "$clip" "$frames" "$phases" <<'PY' | tee "$work/table.md"
import json, os, re, sys
results, memory_dir, clip, frames, phases_dir = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
runs = {r["command"]: r for r in json.load(open(results))["results"]}

# The fastest of each framemeld command's runs for each phase, from its summaries.
def phase_times(name):
    path = os.path.join(phases_dir, name)
    found = re.findall(r"read ([0-9.]+) s(?: \([0-9.]+ frames/s\))?(?:, estimate [0-9.]+ s)?, render ([0-9.]+) s, write ([0-9.]+) s",
                       open(path).read()) if os.path.exists(path) else []
    if not found:
        return None
    return tuple(min(float(run[i]) for run in found) for i in range(3))

def peak_mib(name):
    path = os.path.join(memory_dir, name)
    values = [int(v) for v in open(path).read().split() if v.isdigit()] if os.path.exists(path) else []
    return max(values) / 1024.0 if values else float("nan")

pixels = 1920 * 1080 * frames
decoded_mib = {8: pixels * 4 / 2**20, 16: pixels * 8 / 2**20, 32: pixels * 16 / 2**20}

# On a shared machine the least disturbed run is the best estimate of a command's own time, so
# the ratios are taken between the fastest runs; the ratios of the means are shown beside them.
def best(name):
    return runs[name]["min"]

def mean(name):
    return runs[name]["mean"]

def phase_text(name):
    times = phase_times(name)
    return " | ".join(f"{t:.2f}" for t in times) if times else " |  | "

print("| command | mean s | σ s | fastest s | × framemeld-8 (fastest) | peak MiB | read s | render s | write s |")
print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for name, r in runs.items():
    print(f"| {name} | {r['mean']:.2f} | {r['stddev'] or 0:.2f} | {r['min']:.2f} | "
          f"{r['min'] / best('framemeld-8'):.2f} | {peak_mib(name):.0f} | {phase_text(name)} |")

def check(label, value, by_means, target, ok):
    print(f"| {label} | {value} | {by_means} | {target} | {'met' if ok else 'NOT met'} |")

def ratio(a, b, fn):
    return fn(a) / fn(b)

print()
print("| target | fastest runs | means | wanted | |")
print("|---|---:|---:|---:|---|")
for peer, wanted in (("ffmpeg-tmedian", 5), ("imagemagick-median", 15)):
    if peer in runs:
        r = ratio(peer, "framemeld-8", best)
        check(f"{peer} / framemeld-8", f"{r:.1f}x", f"{ratio(peer, 'framemeld-8', mean):.1f}x", f"≥ {wanted}x",
              r >= wanted)
for depth in (16, 32):
    r = ratio(f"framemeld-{depth}", "framemeld-8", best)
    check(f"framemeld-{depth} / framemeld-8", f"{r:.2f}x", f"{ratio(f'framemeld-{depth}', 'framemeld-8', mean):.2f}x",
          "≤ 2x", r <= 2)
r = ratio("framemeld-8-1thread", "framemeld-8-2threads", best)
check("1 thread / 2 threads (framemeld-8)", f"{r:.2f}x",
      f"{ratio('framemeld-8-1thread', 'framemeld-8-2threads', mean):.2f}x", "≥ 1.8x", r >= 1.8)
# The same targets on the render alone (the plug-in on the runner's threads), fastest phases.
def render_ratio(a, b):
    ta, tb = phase_times(a), phase_times(b)
    return ta[1] / tb[1] if ta and tb and tb[1] > 0 else float("nan")
for depth in (16, 32):
    r = render_ratio(f"framemeld-{depth}", "framemeld-8")
    check(f"render only: framemeld-{depth} / framemeld-8", f"{r:.2f}x", "", "≤ 2x", r <= 2)
r = render_ratio("framemeld-8-1thread", "framemeld-8-2threads")
check("render only: 1 thread / 2 threads (framemeld-8)", f"{r:.2f}x", "", "≥ 1.8x", r >= 1.8)
for depth in (8, 16, 32):
    peak = peak_mib(f"framemeld-{depth}")
    share = peak / decoded_mib[depth] - 1
    check(f"framemeld-{depth} peak over decoded frames ({decoded_mib[depth]:.0f} MiB)", f"{share * 100:+.1f} %",
          "", "≤ +15 %", share <= 0.15)
PY
echo "plate-bench: table in $work/table.md, plates in $plates"
