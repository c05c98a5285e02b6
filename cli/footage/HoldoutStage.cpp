#include "cli/footage/HoldoutStage.h"

#include <cstdint>
#include <vector>

#include "cli/mattes/HoldoutRow.h"

namespace framemeld::cli {

HoldoutStage::HoldoutStage(std::shared_ptr<const HoldoutMattes> mattes, mattes::HoldoutCodes codes)
    : mattes_(std::move(mattes)), codes_(std::move(codes))
{}

void HoldoutStage::apply(int frame, const PF_LRect &area, unsigned char *pixels,
                         std::ptrdiff_t rowBytes) const
{
    const int k = mattes_->sampledIndexOf(frame);
    if (k < 0) {
        return; // a frame the run does not sample has no matte
    }
    const int width = area.right - area.left;
    std::vector<std::uint8_t> matte(static_cast<std::size_t>(width));
    for (int y = area.top; y < area.bottom; ++y) {
        if (!mattes_->rowHeldOut(k, y)) {
            continue;
        }
        mattes_->row(k, y, area.left, width, matte.data());
        mattes::applyHoldoutRow(codes_, k, matte.data(), pixels + (y - area.top) * rowBytes, width);
    }
}

} // namespace framemeld::cli
