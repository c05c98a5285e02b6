#include "cli/footage/FrameStages.h"

#include <stdexcept>

namespace framemeld::cli {

void FramePreparation::add(StageOrder order, std::shared_ptr<const FrameStage> stage)
{
    if (!stage) {
        throw std::logic_error("a frame stage that is not there");
    }
    if (!stages_.empty() && stages_.back().order > order) {
        throw std::logic_error("a frame stage added after one that must follow it");
    }
    stages_.push_back(Entry{order, std::move(stage)});
}

void FramePreparation::apply(int frame, const PF_LRect &area, unsigned char *pixels,
                             std::ptrdiff_t rowBytes, std::size_t first, std::size_t end) const
{
    for (std::size_t i = first; i < stages_.size() && i < end; ++i) {
        stages_[i].stage->apply(frame, area, pixels, rowBytes);
    }
}

} // namespace framemeld::cli
