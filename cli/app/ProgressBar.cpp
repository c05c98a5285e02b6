#include "cli/app/ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace framemeld::cli {
namespace {
constexpr int kBarWidth = 32;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

ProgressBar::ProgressBar(std::FILE *stream, bool enabled, Clock clock)
    : stream_(stream), enabled_(enabled), clock_(clock ? std::move(clock) : Clock(steadySeconds))
{}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::startPhase(const std::string &label)
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = label;
    permille_ = 0;
    drawLocked(true);
}

void ProgressBar::advance(double done)
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    permille_ = std::isfinite(done) ? static_cast<int>(std::clamp(done, 0.0, 1.0) * 1000.0) : 0;
    drawLocked(false);
}

void ProgressBar::finish()
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (lineOpen_ && permille_ != shownPermille_) {
        drawLocked(true); // the figure the rate limit held back
    }
    if (lineOpen_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
        lineOpen_ = false;
    }
    shownPermille_ = -1;
}

void ProgressBar::drawLocked(bool force)
{
    if (!force && permille_ == shownPermille_) {
        return;
    }
    const double now = clock_();
    if (!force && now - drawnAt_ < kRedrawSeconds) {
        return;
    }
    drawnAt_ = now;
    shownPermille_ = permille_;

    const int filled = permille_ * kBarWidth / 1000;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    // \r returns to the line start, ESC[K clears what a longer earlier label left behind.
    std::fprintf(stream_, "\r%-16s [%s] %3d%%\x1b[K", label_.c_str(), bar.c_str(), permille_ / 10);
    std::fflush(stream_);
    lineOpen_ = true;
}

bool isTerminal(std::FILE *stream)
{
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

} // namespace framemeld::cli
