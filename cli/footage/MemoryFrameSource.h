#pragma once
// The clip held in memory: every frame the plug-in will ask for is decoded up front (in parallel
// for image sequences, as one progress phase) into the world the runner hands to the plug-in,
// and kept there once until the render is over. The fastest way when the clip fits the budget.

#include "cli/footage/ClipFrameSource.h"

namespace framemeld::cli {

class MemoryFrameSource final : public ClipFrameSource {
public:
    MemoryFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                      const std::atomic<bool> *cancel);

    // Decodes the frames not yet held; frames decoded before are skipped.
    void prepare(const std::vector<int> &frames, const Progress &progress = {}) override;

    // Bytes held by decoded frames.
    std::size_t decodedBytes() const;

private:
    // A frame that prepare() did not cover is decoded on the spot, so a render that samples
    // other frames than planned still sees the right footage.
    runner::World makeFrame(int index) override;
};

} // namespace framemeld::cli
