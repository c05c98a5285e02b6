#include "cli/plan/FrameList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

// More frames than any clip the tool reads (frame counts are ints), so a list this long is a
// typo, not a wish; it bounds what the list costs to expand.
constexpr long long kMostListedFrames = 10000000;
// Frame numbers reach 12 digits; beyond 15 a number is no frame's.
constexpr long long kLargestFrameNumber = 999999999999999LL;

// Reads an optionally signed whole number at `at`; false when there is none.
bool readNumber(const std::string &text, std::size_t &at, long long &value)
{
    std::size_t end = at;
    if (end < text.size() && text[end] == '-') {
        ++end;
    }
    const std::size_t digits = end;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) {
        ++end;
    }
    if (end == digits || end - digits > 15) {
        return false;
    }
    value = std::strtoll(text.c_str() + at, nullptr, 10);
    at = end;
    return value >= -kLargestFrameNumber && value <= kLargestFrameNumber;
}

FrameRange parseItem(const std::string &item, const std::string &text)
{
    const auto wrong = [&](const std::string &why) {
        return UsageError("--frames needs frame numbers and ranges such as 1001-1100x4 or "
                          "1001,1005,1009, not \"" +
                          text + "\" (" + why + ")");
    };
    FrameRange range;
    std::size_t at = 0;
    if (!readNumber(item, at, range.first)) {
        throw wrong("\"" + item + "\" is no frame number");
    }
    range.last = range.first;
    if (at < item.size() && item[at] == '-') {
        ++at;
        if (!readNumber(item, at, range.last)) {
            throw wrong("\"" + item + "\" ends its range with no frame number");
        }
        if (at < item.size() && (item[at] == 'x' || item[at] == 'X')) {
            ++at;
            if (!readNumber(item, at, range.step) || range.step < 1) {
                throw wrong("\"" + item + "\" needs a step of 1 or more after x");
            }
        }
    }
    if (at != item.size()) {
        throw wrong("\"" + item + "\" has something after its frames");
    }
    if (range.last < range.first) {
        throw wrong("\"" + item + "\" ends before it starts");
    }
    return range;
}

} // namespace

std::vector<FrameRange> parseFrameList(const std::string &text)
{
    std::vector<FrameRange> ranges;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of(", ", at);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > at) {
            ranges.push_back(parseItem(text.substr(at, end - at), text));
        }
        at = end + 1;
    }
    if (ranges.empty()) {
        throw UsageError("--frames needs frame numbers and ranges such as 1001-1100x4, not \"" +
                         text + "\"");
    }
    return ranges;
}

EvenFrames evenFrames(const std::vector<FrameRange> &ranges, const std::string &option)
{
    long long total = 0;
    for (const FrameRange &range : ranges) {
        total += (range.last - range.first) / range.step + 1;
        if (total > kMostListedFrames) {
            throw UsageError(option + " names more than " + std::to_string(kMostListedFrames) +
                             " frames");
        }
    }
    std::vector<long long> frames;
    frames.reserve(static_cast<std::size_t>(total));
    for (const FrameRange &range : ranges) {
        for (long long frame = range.first; frame <= range.last; frame += range.step) {
            frames.push_back(frame);
        }
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());

    EvenFrames even;
    even.start = frames.front();
    even.end = frames.back();
    even.count = static_cast<long long>(frames.size());
    even.every = frames.size() > 1 ? frames[1] - frames[0] : 1;
    for (std::size_t i = 2; i < frames.size(); ++i) {
        if (frames[i] - frames[i - 1] != even.every) {
            throw UsageError(
                option +
                " is not one evenly spaced range, which is all the plug-in samples (Start, "
                "Start + Every, ... up to End): frames " +
                std::to_string(frames[0]) + " to " + std::to_string(frames[i - 1]) + " are " +
                std::to_string(even.every) + " apart, then " + std::to_string(frames[i - 1]) +
                " to " + std::to_string(frames[i]) + " " +
                std::to_string(frames[i] - frames[i - 1]) +
                "; render each range as a plate of its own, or give one range such as " +
                std::to_string(frames.front()) + "-" + std::to_string(frames.back()) + "x" +
                std::to_string(even.every));
        }
    }
    return even;
}

} // namespace framemeld::cli
