#include "ReliabilityKit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "AllocationLedger.h"
#include "host/FramemeldParams.h"

namespace framemeld::reliability {

namespace {

std::uint32_t Hash(std::uint32_t seed, int a, int b, int c, int d)
{
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ seed;
    for (int v : {a, b, c, d}) {
        h = (h ^ static_cast<std::uint32_t>(v)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    return static_cast<std::uint32_t>(h >> 32);
}

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of frame k at (x, y), in the depth's host units.
// Four frames in five show the background with a little noise; the fifth something else.
float FloatChannel(std::uint32_t seed, int k, int x, int y, int c)
{
    const std::uint32_t pick = Hash(seed, k, x, y, 100);
    const float background = static_cast<float>(Hash(seed, -1, x, y, c) % 200) / 255.0f;
    if (pick % 5 != 0) {
        return c == 0 ? 1.0f : background + static_cast<float>(Hash(seed, k, x, y, c) % 3) * 0.004f;
    }
    switch (Hash(seed, k, x, y, c + 10) % 8) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return std::numeric_limits<float>::denorm_min();
    case 4: return -3.0e38f;
    case 5: return 7.5f;
    case 6: return -0.0f;
    default: return static_cast<float>(Hash(seed, k, x, y, c + 20) % 1000) / 500.0f - 0.5f;
    }
}

A_u_short DeepChannel(std::uint32_t seed, int k, int x, int y, int c)
{
    const std::uint32_t pick = Hash(seed, k, x, y, 100);
    if (pick % 5 == 0) {
        const A_u_short extremes[] = {0, 32768, 32769, 65535};
        return extremes[Hash(seed, k, x, y, c + 10) % 4];
    }
    if (c == 0) {
        return 32768;
    }
    return static_cast<A_u_short>(Hash(seed, -1, x, y, c) % 30000 + Hash(seed, k, x, y, c) % 300);
}

A_u_char ByteChannel(std::uint32_t seed, int k, int x, int y, int c)
{
    const std::uint32_t pick = Hash(seed, k, x, y, 100);
    if (pick % 5 == 0) {
        return static_cast<A_u_char>(Hash(seed, k, x, y, c + 10));
    }
    if (c == 0) {
        return 255;
    }
    return static_cast<A_u_char>(Hash(seed, -1, x, y, c) % 250 + Hash(seed, k, x, y, c) % 3);
}

template <typename HostPixel, typename Channel> void WriteFrame(rn::World &frame, Channel channel)
{
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            HostPixel &p = frame.at<HostPixel>(x, y);
            p.alpha = channel(x, y, 0);
            p.red = channel(x, y, 1);
            p.green = channel(x, y, 2);
            p.blue = channel(x, y, 3);
        }
    }
}

std::string Where(int x, int y)
{
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

bool BytesHold(const unsigned char *bytes, std::size_t count, unsigned char value)
{
    return std::all_of(bytes, bytes + count, [value](unsigned char b) { return b == value; });
}

} // namespace

rn::EntryPoint Module()
{
    static const rn::EntryPoint entry = [] {
        const rn::EntryPoint loaded = framemeld::rendertest::ModuleEntryPoint();
        if (!framemeld::ledger::WatchModuleContaining(reinterpret_cast<const void *>(loaded))) {
            throw std::runtime_error(
                "the allocation ledger cannot find the plug-in module's image");
        }
        return loaded;
    }();
    return entry;
}

unsigned WorkerThreads(unsigned fallback)
{
    const char *text = std::getenv("FRAMEMELD_TEST_THREADS");
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value >= 1 && value <= 256) ? static_cast<unsigned>(value) : fallback;
}

std::unique_ptr<rn::Host> NewHost(unsigned threads, unsigned char fill)
{
    rn::HostOptions options;
    options.threads = threads;
    options.outputFill = fill;
    auto host = std::make_unique<rn::Host>(Module(), options);
    const rn::SetupResult setup = host->setup();
    if (!setup.ok()) {
        throw std::runtime_error("setup failed: " + setup.problems.front());
    }
    return host;
}

Sliders SetSliders(rn::Host &host, const Sliders &wanted)
{
    Sliders stored;
    stored.start = host.setParameter(PARAM_START_FRAME, wanted.start);
    stored.end = host.setParameter(PARAM_END_FRAME, wanted.end);
    stored.every = host.setParameter(PARAM_EVERY_NTH, wanted.every);
    stored.divergence = host.setParameter(PARAM_DIVERGENCE, wanted.divergence);
    stored.ratingRange = host.setParameter(PARAM_RATING_RANGE, wanted.ratingRange);
    return stored;
}

std::unique_ptr<rn::InMemoryFrameSource> MakeHostileClip(int width, int height,
                                                         rn::PixelDepth depth, int frameCount,
                                                         std::uint32_t seed, rn::RowPadding padding)
{
    auto clip = std::make_unique<rn::InMemoryFrameSource>(width, height, depth, padding);
    for (int k = 0; k < frameCount; ++k) {
        rn::World &frame = clip->addFrame();
        switch (depth) {
        case rn::PixelDepth::Bits8:
            WriteFrame<PF_Pixel8>(
                frame, [&](int x, int y, int c) { return ByteChannel(seed, k, x, y, c); });
            break;
        case rn::PixelDepth::Bits16:
            WriteFrame<PF_Pixel16>(
                frame, [&](int x, int y, int c) { return DeepChannel(seed, k, x, y, c); });
            break;
        case rn::PixelDepth::Float32:
            WriteFrame<PF_PixelFloat>(
                frame, [&](int x, int y, int c) { return FloatChannel(seed, k, x, y, c); });
            break;
        }
    }
    return clip;
}

rn::World ExpectedPlate(rn::FrameSource &clip, const Sliders &stored, const rn::FaultPlan &faults)
{
    return framemeld::rendertest::ExpectedPlate(
        framemeld::rendertest::SampledFrames(clip, stored, faults), stored, clip.width(),
        clip.height(), clip.depth());
}

ClipSnapshot::ClipSnapshot(rn::FrameSource &clip)
{
    for (int f = 0; f < clip.frameCount(); ++f) {
        const rn::World &frame = clip.frame(f);
        const unsigned char *bytes = frame.height() > 0 ? frame.row(0) : nullptr;
        frames_.emplace_back(bytes, bytes == nullptr ? bytes : bytes + frame.byteSize());
    }
}

bool ClipSnapshot::Matches(rn::FrameSource &clip) const
{
    if (static_cast<std::size_t>(clip.frameCount()) != frames_.size()) {
        return false;
    }
    for (int f = 0; f < clip.frameCount(); ++f) {
        const rn::World &frame = clip.frame(f);
        const std::vector<unsigned char> &saved = frames_[static_cast<std::size_t>(f)];
        if (frame.byteSize() != saved.size() ||
            (!saved.empty() && std::memcmp(frame.row(0), saved.data(), saved.size()) != 0)) {
            return false;
        }
    }
    return true;
}

bool SameValue(const rn::World &a, int ax, int ay, const rn::World &b, int bx, int by)
{
    const std::size_t size = rn::bytesPerPixel(a.depth());
    const unsigned char *pa = a.row(ay) + static_cast<std::size_t>(ax) * size;
    const unsigned char *pb = b.row(by) + static_cast<std::size_t>(bx) * size;
    if (a.depth() != rn::PixelDepth::Float32) {
        return std::memcmp(pa, pb, size) == 0;
    }
    for (std::size_t c = 0; c < 4; ++c) {
        float va;
        float vb;
        std::memcpy(&va, pa + c * sizeof(float), sizeof va);
        std::memcpy(&vb, pb + c * sizeof(float), sizeof vb);
        const bool same = std::isnan(va) ? std::isnan(vb) : std::memcmp(&va, &vb, sizeof va) == 0;
        if (!same) {
            return false;
        }
    }
    return true;
}

long UndrawnPixels(const rn::World &output, unsigned char fill)
{
    long count = 0;
    const std::size_t size = rn::bytesPerPixel(output.depth());
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            count +=
                BytesHold(output.row(y) + static_cast<std::size_t>(x) * size, size, fill) ? 1 : 0;
        }
    }
    return count;
}

std::vector<std::string> OutputProblems(const rn::World &output, const Expectation &expectation)
{
    std::vector<std::string> problems;
    if (!output.valid()) {
        if (expectation.complete) {
            problems.push_back("no output world was checked out");
        }
        return problems;
    }
    const rn::World &plate = *expectation.plate;
    if (output.width() != plate.width() || output.height() != plate.height() ||
        output.depth() != plate.depth()) {
        problems.push_back("the output is " + std::to_string(output.width()) + "x" +
                           std::to_string(output.height()) + ", the plate " +
                           std::to_string(plate.width()) + "x" + std::to_string(plate.height()));
        return problems;
    }
    const std::size_t size = rn::bytesPerPixel(output.depth());
    const std::size_t rowPixels = static_cast<std::size_t>(output.width()) * size;
    long wrong = 0;
    long undrawn = 0;
    long paddingRows = 0;
    std::string first;
    for (int y = 0; y < output.height(); ++y) {
        const unsigned char *row = output.row(y);
        // The last row ends with its pixels: the runner's allocation stops there.
        if (y + 1 < output.height()) {
            const std::size_t padding = static_cast<std::size_t>(output.rowStride()) - rowPixels;
            paddingRows += BytesHold(row + rowPixels, padding, expectation.fill) ? 0 : 1;
        }
        for (int x = 0; x < output.width(); ++x) {
            if (SameValue(output, x, y, plate, x, y)) {
                continue;
            }
            if (BytesHold(row + static_cast<std::size_t>(x) * size, size, expectation.fill)) {
                ++undrawn;
                if (expectation.complete && first.empty()) {
                    first = " first undrawn at " + Where(x, y);
                }
                continue;
            }
            if (++wrong == 1) {
                first = " first wrong at " + Where(x, y);
            }
        }
    }
    if (wrong > 0) {
        problems.push_back(std::to_string(wrong) +
                           " output pixels are neither untouched nor the plate;" + first);
    }
    if (expectation.complete && undrawn > 0) {
        problems.push_back(std::to_string(undrawn) + " output pixels were never drawn;" + first);
    }
    if (paddingRows > 0) {
        problems.push_back("the padding after the pixels of " + std::to_string(paddingRows) +
                           " output rows was written");
    }
    return problems;
}

std::string CheckedRender::Report() const
{
    std::ostringstream text;
    text << "render returned " << result.preRender.err << " / " << result.smartRender.err;
    for (const std::string &problem : problems) {
        text << "\n  " << problem;
    }
    return text.str();
}

CheckedRender RenderAndCheck(rn::Host &host, rn::FrameSource &clip, const Expectation &expectation,
                             const rn::RenderRequest &request)
{
    Module();
    const framemeld::ledger::Books before = framemeld::ledger::Read();
    CheckedRender checked{host.render(clip, request), {}};
    const framemeld::ledger::Books after = framemeld::ledger::Read();

    checked.problems = rn::violations(checked.result.accounting);
    if (checked.result.accounting.preRenderDataAttached &&
        checked.result.accounting.preRenderDataDeletes != 1) {
        checked.problems.push_back("the pre-render data was not freed exactly once");
    }
    for (const std::string &error : checked.result.record.hostErrors) {
        checked.problems.push_back("host error: " + error);
    }
    if (expectation.heapBalance && after.liveBlocks != before.liveBlocks) {
        checked.problems.push_back(
            "the module holds " + std::to_string(after.liveBlocks - before.liveBlocks) +
            " more heap blocks (" + std::to_string(after.liveBytes - before.liveBytes) +
            " bytes) after the render than before");
    }
    if (expectation.plate != nullptr) {
        for (std::string &problem : OutputProblems(checked.result.output, expectation)) {
            checked.problems.push_back(std::move(problem));
        }
    }
    if (expectation.complete && checked.result.err() != PF_Err_NONE) {
        checked.problems.push_back("a render that had to succeed returned " +
                                   std::to_string(checked.result.err()));
    }
    if (expectation.footage != nullptr && !expectation.footage->Matches(clip)) {
        checked.problems.push_back("the render wrote into the footage");
    }
    return checked;
}

} // namespace framemeld::reliability
