#pragma once
// Finds the frames that make up the clip named on the command line: a numbered image sequence
// (shot.####.exr, shot.%04d.png), a folder of frames, a movie file, or a single still image.
// Nothing is decoded here; only a movie is opened, to count its frames.

#include <OpenImageIO/imageio.h>

#include <memory>
#include <string>
#include <vector>

namespace framemeld::cli {

enum class ClipKind { ImageSequence, Movie };

struct Clip {
    ClipKind kind = ClipKind::ImageSequence;
    std::vector<std::string> frameFiles;  // image sequence: frame i of the clip is frameFiles[i]
    std::string moviePath;                // movie: frame i is subimage i
    int frameCount = 0;

    // The file (and, for a movie, the frame) to name in messages about frame `frame`.
    std::string describeFrame(int frame) const;
};

// Throws RunError naming the input when nothing usable is found: a missing file or folder, a
// pattern that matches no file, a gap in a numbered sequence, a movie without video frames.
Clip discoverClip(const std::string& input);

// A numbered file name pattern: prefix, frame number padded to `padding` digits, suffix.
struct SequencePattern {
    std::string directory;  // "" for the current folder
    std::string prefix;
    std::string suffix;
    int padding = 0;        // 0: any number of digits (%d)

    std::string fileNameFor(long long number) const;
};

// Recognises "####" (four digits) or printf-style "%04d" / "%d" in the last path component.
// Returns false when the name holds no such placeholder.
bool parseSequencePattern(const std::string& path, SequencePattern& pattern);

// Opens a still image or a movie with OpenImageIO. Returns null and sets `failure` when nothing
// reads it; for an extension OpenImageIO's movie reader does not take (.mkv, .webm, ...) the
// failure says which it does take.
std::unique_ptr<OIIO::ImageInput> openFootageFile(const std::string& path, std::string& failure);

// Orders names as people read them: digit runs compare by value, so "f9.png" < "f10.png";
// names that differ only in padding fall back to plain comparison.
bool naturalLess(const std::string& a, const std::string& b);

}  // namespace framemeld::cli
