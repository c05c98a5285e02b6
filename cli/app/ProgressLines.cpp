#include "cli/app/ProgressLines.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <utility>

namespace framemeld::cli {
namespace {

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::string phaseWord(const std::string &label)
{
    std::string word;
    for (const char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte)) {
            word += static_cast<char>(std::tolower(byte));
        } else if (!word.empty() && word.back() != '-') {
            word += '-';
        }
    }
    while (!word.empty() && word.back() == '-') {
        word.pop_back();
    }
    return word.empty() ? "unnamed" : word;
}

ProgressLines::ProgressLines(std::FILE *stream, Clock clock)
    : stream_(stream), clock_(clock ? std::move(clock) : Clock(steadySeconds)), start_(clock_())
{}

void ProgressLines::startPhase(const std::string &label)
{
    std::lock_guard<std::mutex> lock(mutex_);
    phase_ = phaseWord(label);
    percent_ = 0;
    printLocked();
}

void ProgressLines::advance(double done)
{
    const int percent =
        std::isfinite(done) ? static_cast<int>(std::floor(std::clamp(done, 0.0, 1.0) * 100.0)) : 0;
    std::lock_guard<std::mutex> lock(mutex_);
    // Reports from several threads may come out of order; a line never goes back.
    if (percent > percent_) {
        percent_ = percent;
        printLocked();
    }
}

void ProgressLines::framesRead(long long read, long long sampled)
{
    std::lock_guard<std::mutex> lock(mutex_);
    framesRead_ = std::max(framesRead_, read);
    framesSampled_ = sampled;
}

void ProgressLines::finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent_ >= 0 && percent_ < 100) {
        percent_ = 100;
        printLocked();
    }
    percent_ = -1;
}

void ProgressLines::printLocked()
{
    if (phase_.empty()) {
        phase_ = "starting";
    }
    char line[256];
    const int size = std::snprintf(
        line, sizeof line,
        "framemeld: progress percent=%d phase=%s frames_read=%lld frames=%lld elapsed=%.2f\n",
        percent_, phase_.c_str(), framesRead_, framesSampled_, std::max(0.0, clock_() - start_));
    if (size > 0) {
        // One write per line, so that lines from a log of several runs never interleave.
        std::fwrite(line, 1, std::min(static_cast<std::size_t>(size), sizeof line - 1), stream_);
        std::fflush(stream_);
    }
}

} // namespace framemeld::cli
