#!/usr/bin/env bash
# The alignment study (issue 28): how well the OpenCV module registers frames with known motion,
# what its alignment does to plates against no alignment and against the known motion undone,
# per resampling filter, and what it costs on 1080p footage against the unaligned plate.
#
# usage: bench/align-study.sh [--build-dir DIR] [--work DIR] [--runs N] [--skip-accuracy]
#                             [--skip-plates] [--skip-timing]
#   --build-dir  a build with FRAMEMELD_BUILD_BENCH=ON (align_study, framemeld, Framemeld.so);
#                default build/holdout
#   --work       where the clips, the plates and the tables go (default build/align-study)
#   --runs       timed runs of each measurement, medians reported (default 3)
#
# Plates are made by the framemeld tool on frames align_study warped itself (the tool's
# --align comes in phase 2): DIR/none (the frames as the camera saw them), DIR/ideal-FILTER
# (the known motion undone), DIR/aligned-FILTER (the recovered motion undone), pixels a warped
# frame does not cover filled with random values so that they agree with nothing. Scores: mean
# absolute grey error (AGE, levels of 255) and the share of pixels off by more than 20 levels
# (pEPs), a 10-pixel border left out, against the known background (synthetic clips) or the
# plate of the static footage (vtest).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/holdout
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
      touch "$work/$clip/done"
    fi
  done
  {
    echo "| clip | registration | none | ideal bilinear | ideal bicubic | ideal lanczos3 | ideal lanczos3 unclamped | ideal lanczos4 | aligned bilinear | aligned bicubic | aligned lanczos3 | aligned lanczos3 unclamped | aligned lanczos4 |"
    echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    for clip in "${clips[@]}"; do
      background=$work/$clip/background.png
      [[ $clip == vtest-* ]] && background=$work/vtest-still/none.plate.png
      row="| $clip | $(sed 's/^[^:]*: //; s/|/\//g' "$work/$clip.registration") |"
      for variant in none ideal-bilinear ideal-bicubic ideal-lanczos3 ideal-lanczos3-ringing ideal-lanczos4 \
                     aligned-bilinear aligned-bicubic aligned-lanczos3 aligned-lanczos3-ringing aligned-lanczos4; do
        read -r _ age eps < <("$study" score "$background" "$work/$clip/$variant.plate.png")
        row+=" $age / $eps % |"
      done
      echo "$row"
    done
  } | tee "$work/plates.md"
fi

if ((timing)); then
  # The unaligned plate of a 1080p x 100 clip, timed as the tool runs it (2 threads), against
  # what registration and warping cost per frame on one thread, times 100, over the same two.
  if [[ ! -f $work/timing-clip/done ]]; then
    rm -rf "${work:?}/timing-clip"
    nice -n 10 "$study" frames --clip synthetic-handheld --out "$work/timing-clip" --size 1920x1080 \
      --frames 100 --only none > /dev/null
    touch "$work/timing-clip/done"
  fi
  echo "== timing (load $(load))"
  for ((r = 0; r < runs; ++r)); do
    /usr/bin/time -f "%e %U %S" "$tool" "$work/timing-clip/none/f.%04d.png" -o "$work/timing-clip/plate.png" \
      -q 2>> "$work/plate-times.txt"
  done
  plate_wall=$(tail -n "$runs" "$work/plate-times.txt" | cut -d' ' -f1 | median)
  plate_cpu=$(tail -n "$runs" "$work/plate-times.txt" | awk '{print $2 + $3}' | median)
  echo "unaligned plate of 1080p x 100: median wall ${plate_wall} s, CPU ${plate_cpu} s (load $(load))"
  "$study" timing --size 1920x1080 --frames 12 --runs "$runs" | tee "$work/timing.md"
  echo "== load after: $(load)"
fi
