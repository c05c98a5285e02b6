#pragma once
// A small clip with a known camera motion for the end-to-end tests of --align and motion files:
// frames cut from a textured scene at whole-pixel offsets, so a shift is exact and the warp
// copies.

#include <string>
#include <vector>

#include "CliTestSupport.h"

namespace framemeld::cli::test {

namespace movingclip {
constexpr int kWidth = 240;
constexpr int kHeight = 180;
constexpr int kMargin = 12; // scene beyond the frame on every side: the largest shift
// A flat box standing in the scene (scene pixels, the frame's top-left at kMargin, kMargin when
// the camera has not moved), for what lingers in front of a moving camera.
constexpr int kBoxX = 100;
constexpr int kBoxY = 70;
constexpr int kBoxWidth = 40;
constexpr int kBoxHeight = 30;
} // namespace movingclip

struct Shift {
    int dx, dy;
};

// shot.0.png ... in `dir`, 8-bit RGB, frame f cut at shifts[f]: the camera moved by (dx, dy).
// The box stands in the scene in the frames where boxInFrame is true (none when it is empty).
void writeMovingClip(const TempDir &dir, const std::vector<Shift> &shifts,
                     const std::vector<bool> &boxInFrame = {});

// matte.0.png ... in `dir`: for each frame, a holdout matte of the box where it stands in that
// frame as shot (white), in the frames where boxInFrame is true; black in the others.
void writeBoxMattes(const TempDir &dir, const std::vector<Shift> &shifts,
                    const std::vector<bool> &boxInFrame);

// Nine frames of a hand-held camera, frame 0 at the scene's centre.
extern const std::vector<Shift> kHandheld;

std::string fileBytes(const std::string &path);

// The matrices of every "frame_to_reference" in a JSON text, in order.
std::vector<std::vector<double>> transformsOf(const std::string &json);

} // namespace framemeld::cli::test
