#include "cli/job/PlateExamination.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "cli/core/CliError.h"
#include "cli/core/ParallelItems.h"
#include "cli/mattes/HonestHoles.h"
#include "cli/mattes/PlateAgreement.h"

namespace framemeld::cli {
namespace {

int wordsPerRow(int width)
{
    return (width + 63) / 64;
}

// What one thread needs to examine a row: the rows of every frame, their matte rows, and a row
// of difference flags per frame.
struct RowScratch {
    std::vector<const unsigned char *> frameRows;
    std::vector<std::uint8_t> matteStore;
    std::vector<const std::uint8_t *> matteRows;
    std::vector<std::uint8_t> differenceStore;
    std::vector<std::uint8_t *> differenceRows;

    RowScratch(int frames, int width, bool holdout, bool differences)
        : frameRows(static_cast<std::size_t>(frames)),
          matteStore(holdout ? static_cast<std::size_t>(frames) * static_cast<std::size_t>(width)
                             : 0),
          matteRows(static_cast<std::size_t>(frames), nullptr),
          differenceStore(
              differences ? static_cast<std::size_t>(frames) * static_cast<std::size_t>(width) : 0),
          differenceRows(static_cast<std::size_t>(frames), nullptr)
    {
        for (std::size_t k = 0; differences && k < differenceRows.size(); ++k) {
            differenceRows[k] = differenceStore.data() + k * static_cast<std::size_t>(width);
        }
    }
};

class Examiner {
public:
    Examiner(const PlateExaminationRequest &request, runner::World &plate, PlateExamination &result)
        : request_(request), plate_(plate), result_(result),
          test_(plate.depth(), request.divergence)
    {}

    // Plate row y, the frames' rows given by `rowOf(k)`.
    template <class RowOf> long examineRow(int y, RowScratch &scratch, const RowOf &rowOf) const
    {
        const int n = static_cast<int>(request_.frames.size());
        const int width = plate_.width();
        for (int k = 0; k < n; ++k) {
            scratch.frameRows[static_cast<std::size_t>(k)] = rowOf(k);
        }
        long holes = 0;
        if (request_.holdout != nullptr) {
            const int frameRow = request_.top + y;
            for (int k = 0; k < n; ++k) {
                std::uint8_t *matte = scratch.matteStore.data() +
                                      static_cast<std::size_t>(k) * static_cast<std::size_t>(width);
                if (request_.holdout->rowHeldOut(k, frameRow)) {
                    request_.holdout->row(k, frameRow, 0, width, matte);
                    scratch.matteRows[static_cast<std::size_t>(k)] = matte;
                } else {
                    scratch.matteRows[static_cast<std::size_t>(k)] = nullptr;
                }
            }
            mattes::HoleRowInput holes_input;
            holes_input.codes = request_.codes;
            holes_input.ratingRange = request_.ratingRange;
            holes_input.frameCount = n;
            holes_input.width = width;
            holes_input.frameRows = scratch.frameRows.data();
            holes_input.matteRows = scratch.matteRows.data();
            holes = mattes::makeHolesHonest(holes_input, plate_.row(y));
        }
        if (request_.confidence || request_.differences) {
            mattes::AgreementRowInput agreement;
            agreement.test = &test_;
            agreement.frameCount = n;
            agreement.width = width;
            agreement.frameRows = scratch.frameRows.data();
            agreement.plateRow = plate_.row(y);
            float *confidence = request_.confidence ? result_.confidence.data() +
                                                          static_cast<std::size_t>(y) *
                                                              static_cast<std::size_t>(width)
                                                    : nullptr;
            mattes::plateAgreementRow(agreement, confidence,
                                      request_.differences ? scratch.differenceRows.data()
                                                           : nullptr);
            if (request_.differences) {
                packDifferences(y, scratch);
            }
        }
        return holes;
    }

private:
    void packDifferences(int y, const RowScratch &scratch) const
    {
        const int width = plate_.width();
        for (std::size_t k = 0; k < request_.frames.size(); ++k) {
            std::uint64_t *bits =
                result_.differences[k].data() +
                static_cast<std::size_t>(y) * static_cast<std::size_t>(result_.rowWords);
            const std::uint8_t *flags = scratch.differenceRows[k];
            for (int word = 0; word < result_.rowWords; ++word) {
                const int first = word * 64;
                const int end = std::min(width, first + 64);
                std::uint64_t value = 0;
                for (int x = first; x < end; ++x) {
                    value |= static_cast<std::uint64_t>(flags[x] == mattes::kDiffers)
                             << (x - first);
                }
                bits[word] = value;
            }
        }
    }

    const PlateExaminationRequest &request_;
    runner::World &plate_;
    PlateExamination &result_;
    mattes::AgreementTest test_;
};

// Runs `work(y, scratch)` for rows [top, bottom) on up to `threads` threads, each with scratch of
// its own; rows go out one at a time, so the threads stay busy whatever the rows cost. Returns
// the sum of what the calls returned.
template <class Work>
long overRows(int top, int bottom, int threads, const std::atomic<bool> *cancel,
              const std::function<RowScratch()> &makeScratch, const Work &work)
{
    std::atomic<long> total{0};
    forEachItemPerThread(
        static_cast<std::size_t>(std::max(0, bottom - top)), threads,
        [&]() -> ItemWork {
            auto scratch = std::make_shared<RowScratch>(makeScratch());
            return [&, scratch](std::size_t row) {
                total += work(top + static_cast<int>(row), *scratch);
            };
        },
        [cancel] { return cancel != nullptr && cancel->load(); });
    if (cancel != nullptr && cancel->load()) {
        throw CancelledError();
    }
    return total;
}

} // namespace

std::uint64_t PlateExamination::bytesFor(int width, int height, int frames, bool confidence,
                                         bool differences)
{
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    std::uint64_t bytes = 0;
    if (confidence) {
        bytes += pixels * sizeof(float);
    }
    if (differences) {
        bytes += static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(height) *
                 static_cast<std::uint64_t>(wordsPerRow(width)) * 8;
    }
    return bytes;
}

PlateExamination examinePlate(ClipFrameSource &frames, runner::World &plate,
                              const PlateExaminationRequest &request)
{
    PlateExamination result;
    result.width = plate.width();
    result.height = plate.height();
    result.rowWords = wordsPerRow(plate.width());
    const int n = static_cast<int>(request.frames.size());
    if (request.confidence) {
        result.confidence.assign(
            static_cast<std::size_t>(result.width) * static_cast<std::size_t>(result.height), 0.0f);
    }
    if (request.differences) {
        result.differences.assign(
            static_cast<std::size_t>(n),
            std::vector<std::uint64_t>(static_cast<std::size_t>(result.rowWords) *
                                           static_cast<std::size_t>(result.height),
                                       0));
    }
    if (request.holdout == nullptr && !request.confidence && !request.differences) {
        return result;
    }
    const Examiner examiner(request, plate, result);
    const std::function<RowScratch()> makeScratch = [&] {
        return RowScratch(n, plate.width(), request.holdout != nullptr, request.differences);
    };
    const int threads = std::max(1, request.threads);

    if (request.memory.storage == FrameStorage::Memory) {
        // Held whole, as the plug-in read them.
        std::vector<const runner::World *> held;
        for (const int frame : request.frames) {
            held.push_back(&frames.frame(frame));
        }
        result.holes =
            overRows(0, plate.height(), threads, request.cancel, makeScratch,
                     [&](int y, RowScratch &scratch) {
                         return examiner.examineRow(y, scratch, [&](int k) {
                             return static_cast<const unsigned char *>(
                                 held[static_cast<std::size_t>(k)]->row(request.top + y));
                         });
                     });
        return result;
    }

    // A band of every frame at a time, as the render read them; the source forgets what the
    // render left over, so the band is read afresh on all decoding threads.
    frames.prepare(request.frames);
    const int bandRows = std::max(1, std::min(request.memory.bandRows, plate.height()));
    for (int bandTop = 0; bandTop < plate.height(); bandTop += bandRows) {
        const int bandBottom = std::min(plate.height(), bandTop + bandRows);
        const PF_LRect area{0, request.top + bandTop, plate.width(), request.top + bandBottom};
        std::vector<runner::World> band;
        band.reserve(request.frames.size());
        for (const int frame : request.frames) {
            runner::World rows = frames.takeArea(frame, area);
            if (!rows.valid()) {
                rows = runner::World(plate.width(), bandBottom - bandTop, plate.depth());
                frames.fillArea(frame, area, rows);
            }
            band.push_back(std::move(rows));
        }
        result.holes += overRows(bandTop, bandBottom, threads, request.cancel, makeScratch,
                                 [&](int y, RowScratch &scratch) {
                                     return examiner.examineRow(y, scratch, [&](int k) {
                                         return static_cast<const unsigned char *>(
                                             band[static_cast<std::size_t>(k)].row(y - bandTop));
                                     });
                                 });
    }
    return result;
}

} // namespace framemeld::cli
