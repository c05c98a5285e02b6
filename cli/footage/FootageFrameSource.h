#pragma once
// The clip as the host runner sees it: every frame the plug-in will ask for is decoded up front
// (in parallel for image sequences, as one progress phase) into the world the runner hands to the
// plug-in, and kept there once until the render is over.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "runner/FrameSource.h"

namespace framemeld::cli {

class FootageFrameSource final : public runner::FrameSource {
public:
    FootageFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                       const std::atomic<bool> *cancel);

    // Decodes `frames` (clip frame numbers; each decoded once, repeats and frames decoded before
    // are skipped), reporting `progress` as decodeFrames does. Throws RunError or
    // CancelledError (see decodeFrames); after a failure none of this call's frames are kept.
    void decode(const std::vector<int> &frames,
                const std::function<void(long long done, long long total)> &progress = {});

    int frameCount() const override { return clip_.frameCount; }
    int width() const override { return format_.width; }
    int height() const override { return format_.height; }
    Depth depth() const override { return depth_; }

    // A frame that decode() did not cover is decoded on the spot, so a render that samples other
    // frames than planned still sees the right footage.
    const runner::World &frame(int index) override;

    // Bytes held by decoded frames.
    std::size_t decodedBytes() const;

private:
    const Clip &clip_;
    FootageFormat format_;
    Depth depth_;
    int threads_;
    const std::atomic<bool> *cancel_;
    // By clip frame, holding only the frames asked for: a clip's length is what its file claims,
    // and nothing is sized by a claim.
    std::map<int, std::unique_ptr<runner::World>> frames_;
};

} // namespace framemeld::cli
