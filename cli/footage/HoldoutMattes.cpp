#include "cli/footage/HoldoutMattes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/plan/SamplingPlan.h"
#include "runner/World.h"

namespace framemeld::cli {
namespace {

int wordsPerRow(int width)
{
    return (width + 63) / 64;
}

// Frame-sized buffers for the decoding threads, taken back as each matte frame is reduced to
// its bits.
class Buffers {
public:
    explicit Buffers(std::size_t bytes) : bytes_(bytes) {}
    unsigned char *take()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) {
            owned_.push_back(std::make_unique<unsigned char[]>(bytes_));
            return owned_.back().get();
        }
        unsigned char *buffer = free_.back();
        free_.pop_back();
        return buffer;
    }
    void giveBack(unsigned char *buffer)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }

private:
    std::size_t bytes_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<unsigned char[]>> owned_;
    std::vector<unsigned char *> free_;
};

// Foreground at or above half of full scale: 128 of 255 at 8 bits, 0.5 in float (16-bit and
// float mattes are read as float, so 32768 of 65535 is the first foreground value, exactly).
bool foreground(std::uint8_t value)
{
    return value >= 128;
}
bool foreground(float value)
{
    return value >= 0.5f;
}

template <class Channel>
std::uint64_t reduceRow(const Channel *host, int width, bool useAlpha, bool invert,
                        std::uint64_t *bits)
{
    // Host pixels are alpha, red, green, blue; the first channel of a file without alpha is red.
    const int channel = useAlpha ? 0 : 1;
    std::uint64_t count = 0;
    for (int x = 0; x < width; ++x) {
        const bool held = foreground(host[static_cast<std::size_t>(4 * x + channel)]) != invert;
        if (held) {
            bits[static_cast<std::size_t>(x / 64)] |= std::uint64_t{1} << (x % 64);
            ++count;
        }
    }
    return count;
}

std::string matteName(const std::string &path)
{
    return "--holdout " + path;
}

} // namespace

std::uint64_t HoldoutMattes::bytesFor(int width, int height, int frames, bool still)
{
    const std::uint64_t perMask = static_cast<std::uint64_t>(height) *
                                  (static_cast<std::uint64_t>(wordsPerRow(width)) * 8 + 1);
    return (still ? 1 : static_cast<std::uint64_t>(std::max(frames, 0))) * perMask;
}

std::uint64_t HoldoutMattes::bytes() const
{
    return bytesFor(width_, height_, static_cast<int>(masks_.size()), false) +
           (maskOf_.size() + sampledIndex_.size()) * sizeof(int);
}

Clip HoldoutMattes::discover(const std::string &path, const Clip &footage,
                             const std::vector<int> &sampled)
{
    SequencePattern pattern;
    if (sampled.empty() || !parseSequencePattern(path, pattern)) {
        try {
            return discoverClip(path);
        } catch (const CliError &error) {
            throw RunError(matteName(path) + ": " + error.what());
        }
    }
    // The numbers from the first sampled to the last, so that a matte frame's place is its
    // number less the first; only the sampled ones must exist.
    const FrameNumbering numbers = numberingOf(footage);
    const auto [low, high] = std::minmax_element(sampled.begin(), sampled.end());
    Clip clip;
    clip.kind = ClipKind::ImageSequence;
    clip.fileNumbers = true;
    clip.firstNumber = numbers.first + *low;
    for (long long number = clip.firstNumber; number <= numbers.first + *high; ++number) {
        clip.frameFiles.push_back(
            (std::filesystem::path(pattern.directory) / pattern.fileNameFor(number)).string());
    }
    clip.frameCount = static_cast<int>(clip.frameFiles.size());
    for (const int frame : sampled) {
        const std::string &file =
            clip.frameFiles[static_cast<std::size_t>(numbers.first + frame - clip.firstNumber)];
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) {
            throw RunError(matteName(path) + ": no matte for frame " +
                           std::to_string(numbers.first + frame) + ", which is sampled (" + file +
                           " is missing)");
        }
    }
    return clip;
}

HoldoutMattes HoldoutMattes::read(const HoldoutMatteRequest &request, const Clip &matte,
                                  const Clip &footage, const FootageFormat &format,
                                  const std::vector<int> &sampled, int threads,
                                  const std::atomic<bool> *cancel)
{
    const std::string name = matteName(request.path);
    FootageFormat matteFormat;
    try {
        matteFormat = probeFootage(matte);
    } catch (const CliError &error) {
        throw RunError(name + ": " + error.what());
    }
    if (matteFormat.channels < 1) {
        throw RunError(name + ": the matte has no channel to read a foreground from");
    }
    if (matteFormat.width != format.width || matteFormat.height != format.height) {
        throw RunError(name + ": the matte is " + std::to_string(matteFormat.width) + "x" +
                       std::to_string(matteFormat.height) + ", the footage " +
                       std::to_string(format.width) + "x" + std::to_string(format.height));
    }

    HoldoutMattes mattes;
    mattes.path_ = request.path;
    mattes.width_ = format.width;
    mattes.height_ = format.height;
    mattes.rowWords_ = wordsPerRow(format.width);
    // One image that is not a numbered sequence holds out the same pixels in every frame.
    mattes.still_ = matte.frameCount == 1 && !matte.fileNumbers;
    mattes.sampledIndex_.assign(static_cast<std::size_t>(footage.frameCount), -1);

    // Which matte frame each sampled frame takes: the one with the same number.
    const FrameNumbering footageNumbers = numberingOf(footage);
    const FrameNumbering matteNumbers = numberingOf(matte);
    std::map<int, int> maskOfMatteFrame;
    std::vector<int> matteFrames;
    std::vector<int> matteFrameOf;
    for (std::size_t k = 0; k < sampled.size(); ++k) {
        const int clipFrame = sampled[k];
        if (mattes.sampledIndex_[static_cast<std::size_t>(clipFrame)] < 0) {
            mattes.sampledIndex_[static_cast<std::size_t>(clipFrame)] = static_cast<int>(k);
        }
        long long matteFrame = 0;
        if (!mattes.still_) {
            const long long number = footageNumbers.first + clipFrame;
            matteFrame = number - matteNumbers.first;
            if (matteFrame < 0 || matteFrame >= matte.frameCount) {
                throw RunError(name + ": no matte for frame " + std::to_string(number) +
                               ", which is sampled (the matte's frames are " +
                               std::to_string(matteNumbers.first) + " to " +
                               std::to_string(matteNumbers.last()) + ")");
            }
        }
        const auto [entry, added] = maskOfMatteFrame.emplace(static_cast<int>(matteFrame),
                                                             static_cast<int>(matteFrames.size()));
        if (added) {
            matteFrames.push_back(static_cast<int>(matteFrame));
        }
        mattes.maskOf_.push_back(entry->second);
    }

    mattes.masks_.resize(matteFrames.size());
    for (Mask &mask : mattes.masks_) {
        mask.bits.assign(static_cast<std::size_t>(mattes.rowWords_) *
                             static_cast<std::size_t>(format.height),
                         0);
        mask.rowAny.assign(static_cast<std::size_t>(format.height), 0);
    }

    // 8-bit mattes at 8 bits, the rest as float: both decide the threshold exactly.
    const Depth depth = matteFormat.naturalDepth == Depth::Bits8 ? Depth::Bits8 : Depth::Float32;
    const bool useAlpha = matteFormat.hasAlpha;
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(
        static_cast<std::size_t>(format.width) * runner::bytesPerPixel(depth));
    Buffers buffers(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(format.height));
    std::vector<std::uint64_t> heldPerMask(matteFrames.size(), 0);

    DecodeRequest decode;
    decode.clip = &matte;
    decode.format = matteFormat;
    decode.frames = matteFrames;
    decode.depth = depth;
    decode.threads = std::max(1, threads);
    decode.cancel = cancel;
    decode.target = [&](std::size_t) { return FrameTarget{buffers.take(), rowBytes}; };
    decode.decoded = [&](std::size_t index, const FrameTarget &target) {
        struct GiveBack {
            Buffers &buffers;
            unsigned char *buffer;
            ~GiveBack() { buffers.giveBack(buffer); }
        } giveBack{buffers, target.pixels};
        Mask &mask = mattes.masks_[index];
        std::uint64_t held = 0;
        for (int y = 0; y < format.height; ++y) {
            const unsigned char *row = target.pixels + y * target.rowBytes;
            std::uint64_t *bits = mask.bits.data() + static_cast<std::size_t>(y) *
                                                         static_cast<std::size_t>(mattes.rowWords_);
            const std::uint64_t inRow =
                depth == Depth::Bits8 ? reduceRow(row, format.width, useAlpha, request.invert, bits)
                                      : reduceRow(reinterpret_cast<const float *>(row),
                                                  format.width, useAlpha, request.invert, bits);
            mask.rowAny[static_cast<std::size_t>(y)] = inRow > 0 ? 1 : 0;
            held += inRow;
        }
        heldPerMask[index] = held;
    };
    try {
        decodeFrames(decode);
    } catch (const RunError &error) {
        throw RunError(name + ": " + error.what());
    }

    const std::uint64_t pixels =
        static_cast<std::uint64_t>(format.width) * static_cast<std::uint64_t>(format.height);
    bool everythingHeld = !mattes.maskOf_.empty();
    for (const int mask : mattes.maskOf_) {
        mattes.heldOutSamples_ += heldPerMask[static_cast<std::size_t>(mask)];
        everythingHeld = everythingHeld && heldPerMask[static_cast<std::size_t>(mask)] == pixels;
    }
    if (everythingHeld) {
        throw RunError(name + ": the matte's " + std::string(useAlpha ? "alpha" : "first channel") +
                       " marks every pixel of every sampled frame as foreground, which leaves "
                       "nothing of the footage; draw the foreground in " +
                       (useAlpha ? "its alpha (a matte with alpha is read by its alpha)"
                                 : "its first channel") +
                       ", or give --holdout-invert for a matte drawn the other way");
    }
    return mattes;
}

HoldoutMattes HoldoutMattes::nothingHeldOut(const Clip &footage, int width, int height,
                                            const std::vector<int> &sampled)
{
    HoldoutMattes mattes;
    mattes.width_ = width;
    mattes.height_ = height;
    mattes.rowWords_ = wordsPerRow(width);
    mattes.sampledIndex_.assign(static_cast<std::size_t>(footage.frameCount), -1);
    Mask empty;
    empty.bits.assign(static_cast<std::size_t>(mattes.rowWords_) * static_cast<std::size_t>(height),
                      0);
    empty.rowAny.assign(static_cast<std::size_t>(height), 0);
    for (std::size_t k = 0; k < sampled.size(); ++k) {
        int &index = mattes.sampledIndex_[static_cast<std::size_t>(sampled[k])];
        if (index < 0) {
            index = static_cast<int>(k);
        }
        mattes.maskOf_.push_back(static_cast<int>(k));
        mattes.masks_.push_back(empty);
    }
    return mattes;
}

HoldoutMattes::Mask &HoldoutMattes::ownMaskOf(int k)
{
    int &maskIndex = maskOf_[static_cast<std::size_t>(k)];
    const auto sharers = std::count(maskOf_.begin(), maskOf_.end(), maskIndex);
    if (sharers > 1) {
        masks_.push_back(masks_[static_cast<std::size_t>(maskIndex)]);
        maskIndex = static_cast<int>(masks_.size() - 1);
    }
    return masks_[static_cast<std::size_t>(maskIndex)];
}

void HoldoutMattes::warpToReference(int k, const align::Transform &frameToReference)
{
    align::Transform referenceToFrame;
    if (!align::invert(frameToReference, referenceToFrame)) {
        throw std::invalid_argument("warpToReference: the transform has no inverse");
    }
    Mask &mask = ownMaskOf(k);
    const Mask before = mask;
    const auto heldAt = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            return false; // outside the frame: uncovered, not the matte's to say
        }
        const std::uint64_t word =
            before.bits[static_cast<std::size_t>(y) * static_cast<std::size_t>(rowWords_) +
                        static_cast<std::size_t>(x / 64)];
        return (word >> (x % 64) & 1U) != 0;
    };
    for (int y = 0; y < height_; ++y) {
        std::uint64_t *bits =
            mask.bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowWords_);
        std::uint8_t any = 0;
        for (int x = 0; x < width_; ++x) {
            double fx = 0.0;
            double fy = 0.0;
            bool held = false;
            if (align::applyTransform(referenceToFrame, x + 0.5, y + 0.5, fx, fy) &&
                std::isfinite(fx) && std::isfinite(fy) && std::abs(fx) < 1e9 &&
                std::abs(fy) < 1e9) {
                // The pixels whose centres surround the place (fx, fy): one on a centre.
                const int left = static_cast<int>(std::floor(fx - 0.5));
                const int right = static_cast<int>(std::ceil(fx - 0.5));
                const int top = static_cast<int>(std::floor(fy - 0.5));
                const int bottom = static_cast<int>(std::ceil(fy - 0.5));
                held = heldAt(left, top) || heldAt(right, top) || heldAt(left, bottom) ||
                       heldAt(right, bottom);
            }
            std::uint64_t &word = bits[static_cast<std::size_t>(x / 64)];
            const std::uint64_t bit = std::uint64_t{1} << (x % 64);
            const bool was = (word & bit) != 0;
            if (held != was) {
                word ^= bit;
                if (held) {
                    ++heldOutSamples_;
                } else {
                    --heldOutSamples_;
                }
            }
            any = static_cast<std::uint8_t>(any | (held ? 1 : 0));
        }
        mask.rowAny[static_cast<std::size_t>(y)] = any;
    }
}

void HoldoutMattes::holdOutUncovered(int k, const std::vector<align::CoverageSpan> &covered)
{
    if (covered.size() != static_cast<std::size_t>(height_)) {
        throw std::invalid_argument("holdOutUncovered: one span per row is needed");
    }
    Mask &mask = ownMaskOf(k);
    for (int y = 0; y < height_; ++y) {
        std::uint64_t *bits =
            mask.bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowWords_);
        const align::CoverageSpan span = covered[static_cast<std::size_t>(y)];
        for (int x = 0; x < width_; ++x) {
            if (x >= span.first && x < span.end) {
                continue;
            }
            std::uint64_t &word = bits[static_cast<std::size_t>(x / 64)];
            const std::uint64_t bit = std::uint64_t{1} << (x % 64);
            if ((word & bit) == 0) {
                word |= bit;
                ++heldOutSamples_;
                mask.rowAny[static_cast<std::size_t>(y)] = 1;
            }
        }
    }
}

int HoldoutMattes::sampledIndexOf(int clipFrame) const
{
    if (clipFrame < 0 || clipFrame >= static_cast<int>(sampledIndex_.size())) {
        return -1;
    }
    return sampledIndex_[static_cast<std::size_t>(clipFrame)];
}

bool HoldoutMattes::rowHeldOut(int k, int y) const
{
    const Mask &mask = masks_[static_cast<std::size_t>(maskOf_[static_cast<std::size_t>(k)])];
    return mask.rowAny[static_cast<std::size_t>(y)] != 0;
}

void HoldoutMattes::row(int k, int y, int left, int count, std::uint8_t *out) const
{
    const Mask &mask = masks_[static_cast<std::size_t>(maskOf_[static_cast<std::size_t>(k)])];
    const std::uint64_t *bits =
        mask.bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowWords_);
    for (int i = 0; i < count; ++i) {
        const int x = left + i;
        out[i] =
            static_cast<std::uint8_t>((bits[static_cast<std::size_t>(x / 64)] >> (x % 64)) & 1u);
    }
}

} // namespace framemeld::cli
