#include "cli/core/FootageFormat.h"

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

std::string sizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

void checkFrameSize(const std::string &what, int width, int height, const FootageFormat &format)
{
    if (width == format.width && height == format.height) {
        return;
    }
    throw RunError(what + ": the frame is " + sizeText(width, height) +
                   ", the clip's first frame " + sizeText(format.width, format.height) +
                   "; all frames must have one size");
}

} // namespace framemeld::cli
