#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the Framemeld module and the framemeld tool, and renders
# a clean plate from real footage: OpenCV's vtest.avi (795 frames, 768x576, people crossing a
# plaza in front of a static camera). Writes
#   out/vtest-plate.png          the clean plate
#   out/vtest-side-by-side.png   one frame of the clip beside the plate
# Every 8th frame (100 samples) takes seconds on two cores. The footage is compressed video, so
# values of the same background wobble by a few levels; the tool measures that wobble and picks
# the Divergence from it, and the Rating Range from the number of frames (the summary line names
# both), which keeps it from leaving dark specks where people lingered.
set -euo pipefail
cd "$(dirname "$0")/.."

footage=/usr/share/doc/opencv-doc/examples/data/vtest.avi
shown_frame=150  # a frame with half a dozen people in it
out=out

bash scripts/setup.sh
echo "== configure and build (preset dev)"
cmake --preset dev >/dev/null
cmake --build --preset dev --target framemeld -j "$(nproc)"

if [[ ! -f $footage ]]; then
  echo "demo: $footage is missing (Debian package opencv-doc)" >&2
  exit 1
fi

mkdir -p "$out"
echo "== render the clean plate"
time build/dev/cli/framemeld "$footage" -o "$out/vtest-plate.png" --every 8

echo "== side-by-side picture: frame $shown_frame of the clip, then the plate"
oiiotool "$footage" --subimage "$shown_frame" -o "$out/vtest-frame-$shown_frame.png"
oiiotool "$out/vtest-frame-$shown_frame.png" "$out/vtest-plate.png" --mosaic:pad=8 2x1 \
  -o "$out/vtest-side-by-side.png"

echo
echo "clean plate:   $PWD/$out/vtest-plate.png"
echo "side by side:  $PWD/$out/vtest-side-by-side.png (frame $shown_frame of the clip | the plate)"
