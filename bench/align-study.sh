#!/usr/bin/env bash
# The alignment study (issue 28): how well the OpenCV module registers frames with known motion,
# what its alignment does to plates against no alignment and against the known motion undone,
# per resampling filter, and what it costs on 1080p footage against the unaligned plate.
#
# usage: bench/align-study.sh [--build-dir DIR] [--work DIR] [--runs N] [--skip-accuracy]
#                             [--skip-plates] [--skip-timing]
#   --build-dir  a build with FRAMEMELD_BUILD_BENCH=ON (align_study, framemeld, Framemeld.so);
#                default build/bench (the bench preset)
#   --work       where the clips, the plates and the tables go (default build/align-study)
#   --runs       timed runs of each measurement, medians reported (default 3)
#
# Plates are made by the framemeld tool: on frames align_study warped itself, DIR/none (the
# frames as the camera saw them), DIR/ideal-FILTER (the known motion undone), DIR/aligned-FILTER
# (the recovered motion undone), pixels a warped frame does not cover filled with random values
# so that they agree with nothing; and by the tool's own --align on DIR/none (DIR/tool-MODEL),
# which registers, warps and holds out the borders itself. Scores: mean
# absolute grey error (AGE, levels of 255) and the share of pixels off by more than 20 levels
# (pEPs), a 10-pixel border left out, against the known background (synthetic clips) or the
# plate of the static footage (vtest).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/align-study
runs=3
accuracy=1
plates=1
timing=1
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --skip-accuracy) accuracy=0; shift ;;
    --skip-plates) plates=0; shift ;;
    --skip-timing) timing=0; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "align-study: unknown argument $1" >&2; exit 2 ;;
  esac
done

study=$build_dir/bench/align_study
tool=$build_dir/cli/framemeld
for f in "$study" "$tool"; do
  if [[ ! -x $f ]]; then
    echo "align-study: $f is missing (configure with -DFRAMEMELD_BUILD_BENCH=ON and build" \
         "align_study framemeld Framemeld)" >&2
    exit 1
  fi
done
mkdir -p "$work"
load() { cut -d' ' -f1-3 /proc/loadavg; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

if ((accuracy)); then
  echo "== accuracy (load $(load))"
  nice -n 10 "$study" accuracy --size 640x360 --frames 15 | tee "$work/accuracy.md"
  echo "== load after: $(load)"
fi

if ((plates)); then
  clips=(synthetic-still synthetic-handheld synthetic-shake synthetic-bump
         vtest-still vtest-handheld vtest-shake vtest-bump)
  for clip in "${clips[@]}"; do
    size=(--size 960x540 --frames 40)
    [[ $clip == vtest-* ]] && size=(--frames 100)
    if [[ ! -f $work/$clip/done ]]; then
      rm -rf "${work:?}/$clip"
      nice -n 10 "$study" frames --clip "$clip" --out "$work/$clip" "${size[@]}" | tee "$work/$clip.registration"
      for dir in "$work/$clip"/*/; do
        dir=${dir%/}
        nice -n 10 "$tool" "$dir/f.%04d.png" -o "$dir.plate.png" -q
      done
      for model in translation similarity perspective; do
        nice -n 10 "$tool" "$work/$clip/none/f.%04d.png" -o "$work/$clip/tool-$model.plate.png" \
          --align "$model" -q || echo "align-study: $clip: --align $model failed" >&2
      done
      touch "$work/$clip/done"
    fi
  done
  {
    echo "| clip | registration | none | ideal bilinear | ideal bicubic | ideal lanczos3 | ideal lanczos3 unclamped | ideal lanczos4 | aligned bilinear | aligned bicubic | aligned lanczos3 | aligned lanczos3 unclamped | aligned lanczos4 | tool translation | tool similarity | tool perspective |"
    echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    for clip in "${clips[@]}"; do
      background=$work/$clip/background.png
      [[ $clip == vtest-* ]] && background=$work/vtest-still/none.plate.png
      row="| $clip | $(sed 's/^[^:]*: //; s/|/\//g' "$work/$clip.registration") |"
      for variant in none ideal-bilinear ideal-bicubic ideal-lanczos3 ideal-lanczos3-ringing ideal-lanczos4 \
                     aligned-bilinear aligned-bicubic aligned-lanczos3 aligned-lanczos3-ringing aligned-lanczos4 \
                     tool-translation tool-similarity tool-perspective; do
        if [[ ! -f $work/$clip/$variant.plate.png ]]; then row+=" failed |"; continue; fi
        read -r _ age eps < <("$study" score "$background" "$work/$clip/$variant.plate.png")
        row+=" $age / $eps % |"
      done
      echo "$row"
    done
  } | tee "$work/plates.md"
fi

if ((timing)); then
  # The plate of a 1080p x 100 handheld clip with and without --align similarity, taken in turn
  # (A B A B ...) so that the ratio holds while the machine's speed drifts; then what
  # registration and warping cost per frame on one thread, in the module as the tool calls it.
  if [[ ! -f $work/timing-clip/done ]]; then
    rm -rf "${work:?}/timing-clip"
    nice -n 10 "$study" frames --clip synthetic-handheld --out "$work/timing-clip" --size 1920x1080 \
      --frames 100 --only none > /dev/null
    touch "$work/timing-clip/done"
  fi
  echo "== timing (load $(load))"
  frames=$work/timing-clip/none/f.%04d.png
  : > "$work/plate-times.txt"
  for ((r = 0; r < runs; ++r)); do
    for model in none similarity; do
      /usr/bin/time -f "$model %e %U %S" "$tool" "$frames" -o "$work/timing-clip/$model.png" \
        --align "$model" -q 2>> "$work/plate-times.txt"
    done
  done
  for model in none similarity; do
    wall=$(awk -v m="$model" '$1 == m {print $2}' "$work/plate-times.txt" | median)
    cpu=$(awk -v m="$model" '$1 == m {print $3 + $4}' "$work/plate-times.txt" | median)
    echo "1080p x 100, --align $model: median wall $wall s, CPU $cpu s"
  done
  ratio=$(awk '$1 == "none" {n[++i] = $2} $1 == "similarity" {s[++j] = $2}
               END {for (k = 1; k <= i && k <= j; ++k) print s[k] / n[k]}' "$work/plate-times.txt" | median)
  echo "aligned / unaligned wall, median of the pairs: $ratio (load $(load))"
  "$study" timing --size 1920x1080 --frames 12 --runs "$runs" | tee "$work/timing.md"
  echo "== load after: $(load)"
fi
