#include "cli/app/ProgressBar.h"

#include <unistd.h>

#include <algorithm>

namespace framemeld::cli {
namespace {
constexpr int kBarWidth = 32;
}

ProgressBar::ProgressBar(std::FILE *stream, bool enabled) : stream_(stream), enabled_(enabled) {}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::startPhase(const std::string &label, long long total)
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = label;
    total_ = std::max(0LL, total);
    done_ = 0;
    drawLocked(true);
}

void ProgressBar::update(long long done)
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = done;
    drawLocked(false);
}

void ProgressBar::update(long long done, long long total)
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = done;
    total_ = std::max(0LL, total);
    drawLocked(false);
}

void ProgressBar::finish()
{
    if (!enabled_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (lineOpen_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
        lineOpen_ = false;
    }
    shownPermille_ = -1;
}

void ProgressBar::drawLocked(bool force)
{
    const long long done = std::clamp(done_, 0LL, total_);
    const int permille = total_ > 0 ? static_cast<int>(done * 1000 / total_) : 0;
    if (!force && permille == shownPermille_) {
        return;
    }
    shownPermille_ = permille;

    const int filled = permille * kBarWidth / 1000;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    // \r returns to the line start, ESC[K clears what a longer earlier label left behind.
    std::fprintf(stream_, "\r%-16s [%s] %3d%%\x1b[K", label_.c_str(), bar.c_str(), permille / 10);
    std::fflush(stream_);
    lineOpen_ = true;
}

bool isTerminal(std::FILE *stream)
{
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

} // namespace framemeld::cli
