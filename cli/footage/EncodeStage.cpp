#include "cli/footage/EncodeStage.h"

#include <stdexcept>
#include <utility>

namespace framemeld::cli {

EncodeStage::EncodeStage(WorkingSpace space, Depth frameDepth) : space_(std::move(space))
{
    if (!space_.changesPixels()) {
        throw std::invalid_argument("an encoding stage for a working space that changes nothing");
    }
    if (space_.depth() != frameDepth) {
        throw std::invalid_argument("the working space is not at the render depth");
    }
}

void EncodeStage::apply(int, const PF_LRect &area, unsigned char *pixels,
                        std::ptrdiff_t rowBytes) const
{
    space_.encodeRows(pixels, rowBytes, area.right - area.left, area.bottom - area.top);
}

} // namespace framemeld::cli
