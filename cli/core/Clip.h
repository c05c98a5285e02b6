#pragma once
// The frames that make up the clip named on the command line: a numbered image sequence, a
// folder of frames, a single still image, or a movie.

#include <string>
#include <vector>

namespace framemeld::cli {

enum class ClipKind { ImageSequence, Movie };

struct Clip {
    ClipKind kind = ClipKind::ImageSequence;
    std::vector<std::string> frameFiles; // image sequence: frame i of the clip is frameFiles[i]
    std::string moviePath;               // movie: frame i is subimage i
    int frameCount = 0;
    // A numbered image sequence is named on the command line by the numbers its files carry
    // (frame 0 is file number firstNumber); folders, movies and single images count from 0.
    bool fileNumbers = false;
    long long firstNumber = 0;
    // Numbers between the first and the last that no file carries (a clip rendered on 4s), in
    // clip frames, sorted; frameFiles holds the name such a file would have. Only a frame that
    // is sampled must be there (see requireSampledFrames in footage/FootageDiscovery.h).
    std::vector<int> missingFrames;

    // The file (and, for a movie, the frame) to name in messages about frame `frame`.
    std::string describeFrame(int frame) const;
    bool frameMissing(int frame) const;
};

} // namespace framemeld::cli
