#include "cli/footage/WarpStage.h"

#include <cstring>
#include <memory>
#include <stdexcept>

namespace framemeld::cli {

align::AlphaKind alphaKindOf(const FootageFormat &format)
{
    if (!format.hasAlpha) {
        return align::AlphaKind::Opaque;
    }
    return format.unassociatedAlpha ? align::AlphaKind::Straight : align::AlphaKind::Premultiplied;
}

WarpStage::WarpStage(const align::AlignModule &module,
                     std::map<int, align::Transform> frameToReference, align::AlphaKind alpha,
                     runner::PixelDepth depth, align::WarpSettings settings)
    : module_(module), frameToReference_(std::move(frameToReference)), alpha_(alpha), depth_(depth),
      settings_(settings)
{}

void WarpStage::apply(int frame, const PF_LRect &area, unsigned char *pixels,
                      std::ptrdiff_t rowBytes) const
{
    const auto found = frameToReference_.find(frame);
    if (found == frameToReference_.end() || found->second.m == align::identityTransform().m) {
        return;
    }
    if (area.left != 0 || area.top != 0) {
        throw std::logic_error("the warp stage was given part of a frame");
    }
    const int width = area.right;
    const int height = area.bottom;
    // The warp reads around every target pixel, so it reads from a copy of the frame.
    const std::size_t rowLength = static_cast<std::size_t>(width) * runner::bytesPerPixel(depth_);
    // Not zeroed first: every byte is copied over at once.
    const std::unique_ptr<unsigned char[]> source(
        new unsigned char[rowLength * static_cast<std::size_t>(height)]);
    for (int y = 0; y < height; ++y) {
        std::memcpy(source.get() + static_cast<std::size_t>(y) * rowLength, pixels + y * rowBytes,
                    rowLength);
    }
    align::HostFrameView view;
    view.width = width;
    view.height = height;
    view.rowBytes = static_cast<std::ptrdiff_t>(rowLength);
    view.depth = depth_;
    view.alpha = alpha_;
    view.pixels = source.get();
    align::HostFrameTarget target;
    target.width = width;
    target.height = height;
    target.rowBytes = rowBytes;
    target.depth = depth_;
    target.pixels = pixels;
    module_.warpFrame(view, found->second, target, 0, nullptr, settings_);
}

} // namespace framemeld::cli
