#include "cli/footage/FileRowsFrameSource.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

bool sameArea(const PF_LRect &a, const PF_LRect &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

FrameTarget targetOf(runner::World &world)
{
    return FrameTarget{world.row(0), static_cast<std::ptrdiff_t>(world.rowStride())};
}

} // namespace

FileRowsFrameSource::FileRowsFrameSource(const Clip &clip, const FootageFormat &format, Depth depth,
                                         int threads, const std::atomic<bool> *cancel)
    : ClipFrameSource(clip, format, depth, threads, cancel)
{
    if (clip.kind != ClipKind::ImageSequence || !format.rowAccess) {
        throw std::invalid_argument("the footage cannot be read a few rows at a time");
    }
}

void FileRowsFrameSource::prepare(const std::vector<int> &frames, const Progress &)
{
    for (const int frame : frames) {
        checkFrame(frame);
    }
    sampled_ = frames;
    std::sort(sampled_.begin(), sampled_.end());
    sampled_.erase(std::unique(sampled_.begin(), sampled_.end()), sampled_.end());
    ready_.clear();
    prepared_ = PF_LRect{};
    for (const int frame : sampled_) {
        checkUnchanged(frame);
    }
}

void FileRowsFrameSource::checkUnchanged(int frame)
{
    const std::string &path = clip_.frameFiles.at(static_cast<std::size_t>(frame));
    const std::optional<FileIdentity> now = identityOf(path);
    if (!now) {
        throw RunError(path + ": the frame file is gone while the plate is rendered from it; "
                              "render once the footage is complete");
    }
    const auto [known, first] = identities_.emplace(frame, *now);
    if (!first && known->second != *now) {
        throw RunError(path +
                       ": the frame file changed while the plate was rendered from it (another "
                       "file, size or modification time than when the run began reading it); "
                       "nothing written, render once the footage is complete");
    }
}

void FileRowsFrameSource::decodeRows(const std::vector<int> &frames, int top, int bottom,
                                     int threads,
                                     const std::function<FrameTarget(std::size_t)> &target)
{
    // Before: a file replaced since the last band; after: one replaced while it was read.
    for (const int frame : frames) {
        checkUnchanged(frame);
    }
    DecodeRequest request = decodeRequest(frames, threads);
    request.rowTop = top;
    request.rowBottom = bottom;
    request.target = target;
    if (!preparation().empty()) {
        // On the decoding threads, as each frame's rows are whole.
        request.decoded = [this, &frames, top, bottom](std::size_t i, const FrameTarget &rows) {
            applyStages(frames[i], PF_LRect{0, top, format_.width, bottom}, rows.pixels,
                        rows.rowBytes);
        };
    }
    decode(request);
    for (const int frame : frames) {
        checkUnchanged(frame);
    }
    rowsRead_ += static_cast<long long>(frames.size()) * (bottom - top);
}

void FileRowsFrameSource::fillArea(int index, const PF_LRect &area, runner::World &into)
{
    checkFrame(index);
    checkArea(area, into);
    if (area.left == 0 && area.right == format_.width) {
        decodeRows({index}, area.top, area.bottom, 1,
                   [&into](std::size_t) { return targetOf(into); });
        return;
    }
    // Files hold whole rows: decode them, keep the area's columns.
    runner::World rows(format_.width, area.bottom - area.top, depth_);
    decodeRows({index}, area.top, area.bottom, 1, [&rows](std::size_t) { return targetOf(rows); });
    const std::size_t pixel = runner::bytesPerPixel(depth_);
    const std::size_t bytes = static_cast<std::size_t>(area.right - area.left) * pixel;
    for (int y = 0; y < into.height(); ++y) {
        std::memcpy(into.row(y), rows.row(y) + static_cast<std::size_t>(area.left) * pixel, bytes);
    }
}

void FileRowsFrameSource::checkStageFits(const FrameStage &stage) const
{
    if (stage.wholeFrame()) {
        throw std::invalid_argument("a whole-frame stage for footage read a few rows at a time");
    }
}

runner::World FileRowsFrameSource::takeArea(int index, const PF_LRect &area)
{
    if (area.left != 0 || area.right != format_.width || area.top < 0 ||
        area.bottom > format_.height || area.top >= area.bottom ||
        !std::binary_search(sampled_.begin(), sampled_.end(), index)) {
        return runner::World();
    }
    if (!sameArea(area, prepared_)) {
        // The last band's rows that were never asked for go before this band's are made.
        ready_.clear();
        prepared_ = PF_LRect{};
        std::vector<runner::World *> targets;
        for (const int frame : sampled_) {
            targets.push_back(
                &ready_.emplace(frame, runner::World(format_.width, area.bottom - area.top, depth_))
                     .first->second);
        }
        try {
            decodeRows(sampled_, area.top, area.bottom, threads_,
                       [&targets](std::size_t i) { return targetOf(*targets[i]); });
        } catch (...) {
            ready_.clear();
            throw;
        }
        prepared_ = area;
    }
    const auto found = ready_.find(index);
    if (found == ready_.end()) {
        return runner::World();
    }
    runner::World world = std::move(found->second);
    ready_.erase(found);
    return world;
}

void FileRowsFrameSource::gatherRow(int row, const std::vector<int> &frames, runner::World &into)
{
    checkRowGather(row, frames, into);
    const std::ptrdiff_t stride = into.rowStride();
    decodeRows(frames, row, row + 1, threads_, [&into, stride](std::size_t i) {
        return FrameTarget{into.row(static_cast<int>(i)), stride};
    });
}

double FileRowsFrameSource::framesRead() const
{
    return format_.height > 0 ? static_cast<double>(rowsRead_) / format_.height : 0.0;
}

} // namespace framemeld::cli
