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

    // The file (and, for a movie, the frame) to name in messages about frame `frame`.
    std::string describeFrame(int frame) const;
};

} // namespace framemeld::cli
