#include "cli/footage/FootageDecoder.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/core/CliError.h"
#include "cli/core/ParallelItems.h"
#include "cli/formats/OiioModule.h"
#include "cli/formats/PngFrameReader.h"

namespace framemeld::cli {
namespace {

void decodeStill(const std::string &path, const DecodeRequest &request, const FrameTarget &target,
                 PngFrameReader &pngReader)
{
    // The tool's PNG codec decodes whole frames; a band of rows of a file that only claims a format
    // with row access (a PNG named .exr) goes to the library, which reads it row by row.
    if (!request.wholeFrames() || !pngReader.decode(path, request, target)) {
        oiioModule().decodeStill(path, request, target);
    }
}

void decodeSequence(const DecodeRequest &request)
{
    const std::size_t count = request.frames.size();
    std::atomic<std::size_t> finished{0};
    forEachItemPerThread(
        count, request.threads,
        [&]() -> ItemWork {
            // Each thread keeps its PNG decoder's buffers from frame to frame.
            auto pngReader = std::make_shared<PngFrameReader>();
            return [&, pngReader](std::size_t index) {
                const int frame = request.frames[index];
                const std::string &path =
                    request.clip->frameFiles.at(static_cast<std::size_t>(frame));
                const FrameTarget target = request.target(index);
                decodeStill(path, request, target, *pngReader);
                if (request.decoded) {
                    request.decoded(index, target);
                }
                if (request.progress) {
                    request.progress(static_cast<long long>(finished.fetch_add(1) + 1),
                                     static_cast<long long>(count));
                }
            };
        },
        [&request] { return request.cancelled(); });
    if (request.cancelled()) {
        throw CancelledError();
    }
}

} // namespace

FootageFormat probeFootage(const Clip &clip)
{
    std::optional<FootageFormat> format;
    if (clip.kind == ClipKind::ImageSequence && !clip.frameFiles.empty()) {
        format = probePngFootage(clip.frameFiles.front());
    }
    if (!format) {
        format = oiioModule().probe(clip);
    }
    // The host's worlds stop here; said now, naming the file, rather than by the first world made.
    if (format->width > PF_MAX_WORLD_WIDTH || format->height > PF_MAX_WORLD_HEIGHT) {
        throw RunError(
            clip.describeFrame(0) + ": the frame is " + std::to_string(format->width) + "x" +
            std::to_string(format->height) + " pixels, larger than the host's largest layer (" +
            std::to_string(PF_MAX_WORLD_WIDTH) + "x" + std::to_string(PF_MAX_WORLD_HEIGHT) + ")");
    }
    return *format;
}

PlateMetadata frameMetadata(const Clip &clip, int frame)
{
    // PNG frames the tool reads itself carry nothing the plate keeps, and are no reason to load
    // the library.
    if (clip.kind == ClipKind::ImageSequence &&
        probePngFootage(clip.frameFiles.at(static_cast<std::size_t>(frame)))) {
        return {};
    }
    return oiioModule().frameMetadata(clip, frame);
}

void decodeFrames(const DecodeRequest &request)
{
    if (request.frames.empty()) {
        return;
    }
    if (request.rowTop < 0 || request.rowTop >= request.rowEnd() ||
        request.rowEnd() > request.format.height) {
        throw std::invalid_argument("the rows to decode are not within the frame");
    }
    if (!request.wholeFrames() &&
        (request.clip->kind == ClipKind::Movie || !request.format.rowAccess)) {
        throw std::invalid_argument("this footage cannot be read a few rows at a time");
    }
    if (request.clip->kind == ClipKind::Movie) {
        oiioModule().decodeMovie(request);
    } else {
        decodeSequence(request);
    }
}

} // namespace framemeld::cli
