#!/usr/bin/env bash
# What --confidence and --mattes cost beside the plate, and what a rough --holdout matte buys.
#
# 1. Cost: a generated 1080p clip of 100 frames (plate-bench.sh's recipe) rendered at 8 bits with
#    the plate alone, with --confidence, with --mattes and with both, each run --runs times in
#    turn; prints the medians of the whole run's wall time and of the phases the summary names
#    (render; the holes, confidence and mattes pass; write), and the pass against the render.
# 2. Quality: a generated 640x360 clip of 50 frames with a known background, noise, a box that
#    lingers in one place for 60 % of the frames and another that passes through; the plate with
#    no matte and with a rough matte (the lingerer's box grown by 24 pixels, drawn for the frames
#    it stands in) against the background: oiiotool's mean error and PSNR over the whole plate
#    and over the lingerer's box.
#
# usage: bench/mattes-bench.sh [--build-dir DIR] [--work DIR] [--runs N]
#   --build-dir  where framemeld is built (default build/bench, the 'bench' preset; built here
#                when it has no framemeld yet)
#   --work       where the clips and the results go (default build/mattes-bench)
#   --runs       runs of each command (default 5)
# Run it on an idle machine, with nice -n 10 when others share it; it prints the load average
# before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/mattes-bench
runs=5
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "mattes-bench: unknown argument $1" >&2; exit 2 ;;
  esac
done
for tool in ffmpeg oiiotool python3; do
  command -v "$tool" >/dev/null || bash scripts/setup.sh --bench
done
framemeld=$build_dir/cli/framemeld
if [[ ! -x "$framemeld" ]]; then
  [[ "$build_dir" == build/bench ]] && cmake --preset bench >/dev/null
  cmake --build "$build_dir" --target framemeld Framemeld
fi
framemeld=$(cd "$(dirname "$framemeld")" && pwd)/framemeld
mkdir -p "$work"
work=$(cd "$work" && pwd)

median() { python3 -c 'import statistics,sys; print("%.3f" % statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }

# --- 1. Cost on 1080p x 100 ---------------------------------------------------------------------
clip=$work/clip1080
recipe="mandelbrot 1920x1080, box 260x260 0xD03020 moving, noise alls=10 seed 20260801, 100 frames"
if [[ "$(cat "$clip/recipe" 2>/dev/null)" != "$recipe" ]]; then
  echo "mattes-bench: making the 1080p clip in $clip"
  rm -rf "$clip" && mkdir -p "$clip"
  ffmpeg -y -loglevel error -f lavfi \
    -i "mandelbrot=size=1920x1080:rate=25:start_scale=0.5:end_scale=0.5" -frames:v 1 "$clip/background.png"
  ffmpeg -y -loglevel error -loop 1 -framerate 25 -i "$clip/background.png" \
    -f lavfi -i "color=c=0xD03020:size=260x260:rate=25" \
    -filter_complex "[0:v]format=rgb24[bg];[1:v]format=rgb24[box];[bg][box]overlay=x='mod(17*n\,1660)':y='400+300*sin(n/16)',noise=alls=10:allf=t:all_seed=20260801,format=rgb24" \
    -frames:v 100 "$clip/f_%03d.png"
  rm -f "$clip/background.png"
  echo "$recipe" >"$clip/recipe"
fi

out=$work/out
declare -A extra=(
  [plate]=""
  [confidence]="--confidence $out/confidence.png"
  [mattes]="--mattes $out/key.%03d.png"
  [both]="--confidence $out/confidence.png --mattes $out/key.%03d.png"
)
order=(plate confidence mattes both)
declare -A wall render pass write
echo "mattes-bench: load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
for ((run = 1; run <= runs; run++)); do
  for name in "${order[@]}"; do
    rm -rf "$out" && mkdir -p "$out"
    start=$(date +%s.%N)
    # shellcheck disable=SC2086
    summary=$("$framemeld" "$clip/f_%03d.png" -o "$out/plate.png" --divergence 13 \
      --rating-range 2 ${extra[$name]} 2>&1)
    end=$(date +%s.%N)
    wall[$name]+=" $(python3 -c "print($end - $start)")"
    render[$name]+=" $(sed -n 's/.*render \([0-9.]*\) s.*/\1/p' <<<"$summary")"
    write[$name]+=" $(sed -n 's/.*write \([0-9.]*\) s$/\1/p' <<<"$summary")"
    measured=$(sed -n 's/.*mattes measured in \([0-9.]*\) s/\1/p' <<<"$summary")
    pass[$name]+=" ${measured:-0}"
  done
done
echo "mattes-bench: load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "1080p x 100 frames, 8 bits, Divergence 13, Rating Range 2; medians of $runs runs (s)"
printf '%-12s %8s %8s %8s %8s %14s\n' run wall render pass write "pass/render"
plateWall=$(median ${wall[plate]})
for name in "${order[@]}"; do
  w=$(median ${wall[$name]})
  r=$(median ${render[$name]})
  p=$(median ${pass[$name]})
  wr=$(median ${write[$name]})
  printf '%-12s %8s %8s %8s %8s %13.1f%%   (wall %+.1f%% on the plate alone)\n' "$name" "$w" "$r" \
    "$p" "$wr" "$(python3 -c "print(100 * $p / $r)")" "$(python3 -c "print(100 * ($w - $plateWall) / $plateWall)")"
done

# --- 2. Quality with a rough matte ------------------------------------------------------------
q=$work/quality
qrecipe="mandelbrot 640x360, lingerer 80x140 at 280,120 frames 0-29 then walks off, passer 60x60, noise 8, 50 frames, matte +24 v2"
if [[ "$(cat "$q/recipe" 2>/dev/null)" != "$qrecipe" ]]; then
  echo "mattes-bench: making the quality clip in $q"
  rm -rf "$q" && mkdir -p "$q"
  ffmpeg -y -loglevel error -f lavfi \
    -i "mandelbrot=size=640x360:rate=25:start_scale=0.5:end_scale=0.5" -frames:v 1 "$q/background.png"
  ffmpeg -y -loglevel error -loop 1 -framerate 25 -i "$q/background.png" \
    -f lavfi -i "color=c=0x3050C0:size=80x140:rate=25" -f lavfi -i "color=c=0xE0E040:size=60x60:rate=25" \
    -filter_complex "[0:v]format=rgb24[bg];[bg][1:v]overlay=x='if(lt(n\,30)\,280\,280+(n-29)*24)':y=120:shortest=1[a];[a][2:v]overlay=x='20+12*n':y=60:shortest=1,noise=alls=8:allf=t:all_seed=7,format=rgb24" \
    -frames:v 50 -start_number 0 "$q/f.%04d.png"
  # The rough matte: the box grown by 24 pixels each way, for the frames it stands in.
  ffmpeg -y -loglevel error -f lavfi -i "color=black:size=640x360:rate=25" \
    -vf "drawbox=x=256:y=96:w=128:h=188:color=white:t=fill:enable='lt(n\,30)',format=gray" \
    -frames:v 50 -start_number 0 "$q/matte.%04d.png"
  echo "$qrecipe" >"$q/recipe"
fi
"$framemeld" "$q/f.%04d.png" -o "$q/no-matte.png" -q
"$framemeld" "$q/f.%04d.png" -o "$q/rough-matte.png" -q --holdout "$q/matte.%04d.png" \
  --confidence "$q/confidence.png" --json >"$q/rough-matte.json"
"$framemeld" "$q/f.%04d.png" -o "$q/no-matte-unused.png" -q --confidence "$q/confidence-no-matte.png"
errors() {
  oiiotool "$1" --ch R,G,B "$2" --ch R,G,B --diff 2>&1 | sed -n 's/^ *\(Mean error\|PSNR\) = \(.*\)/\1 \2/p' | tr '\n' ' '
}
box() {
  oiiotool "$1" --cut 80x140+280+120 -o "$q/cut-a.png" && oiiotool "$2" --cut 80x140+280+120 -o "$q/cut-b.png"
  errors "$q/cut-a.png" "$q/cut-b.png"
}
echo
echo "quality against the known background (640x360 x 50, lingerer in 60 % of the frames)"
echo "  no matte,    whole plate:   $(errors "$q/no-matte.png" "$q/background.png")"
echo "  rough matte, whole plate:   $(errors "$q/rough-matte.png" "$q/background.png")"
echo "  no matte,    lingerer box:  $(box "$q/no-matte.png" "$q/background.png")"
echo "  rough matte, lingerer box:  $(box "$q/rough-matte.png" "$q/background.png")"
echo "  holes with the rough matte: $(python3 -c "import json,sys; r=json.load(open(sys.argv[1])); print(r['holes'], 'pixels')" "$q/rough-matte.json")"
