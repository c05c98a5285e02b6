#include "cli/plate/PlateWindows.h"

#include "cli/plate/PlateStorage.h"

namespace framemeld::cli {

bool plateHoldsWindows(const std::string &path)
{
    return plateFormatOf(path) == PlateFormat::Exr;
}

bool overscanLeftOut(const std::string &path, const FrameWindows &windows)
{
    return windows.overscan() && !plateHoldsWindows(path);
}

PlateImage plateImageFor(const std::string &path, const PlateImage &frame,
                         const FrameWindows &windows)
{
    if (!overscanLeftOut(path, windows) || frame.width != windows.frameWidth ||
        frame.height != windows.frameHeight) {
        return frame;
    }
    // The display window lies inside the frame, which is its union with the data window.
    PlateImage shown = frame;
    const auto left = static_cast<std::ptrdiff_t>(windows.displayX - windows.frameX);
    const auto top = static_cast<std::ptrdiff_t>(windows.displayY - windows.frameY);
    shown.pixels = frame.pixels + top * frame.rowBytes +
                   left * static_cast<std::ptrdiff_t>(runner::bytesPerPixel(frame.depth));
    shown.width = windows.displayWidth;
    shown.height = windows.displayHeight;
    return shown;
}

} // namespace framemeld::cli
