#include "cli/core/Clip.h"

#include <algorithm>

namespace framemeld::cli {

std::string Clip::describeFrame(int frame) const
{
    if (kind == ClipKind::Movie) {
        return moviePath + " (frame " + std::to_string(frame) + ")";
    }
    if (frame >= 0 && frame < static_cast<int>(frameFiles.size())) {
        return frameFiles[static_cast<std::size_t>(frame)];
    }
    return "frame " + std::to_string(frame);
}

bool Clip::frameMissing(int frame) const
{
    return std::binary_search(missingFrames.begin(), missingFrames.end(), frame);
}

} // namespace framemeld::cli
