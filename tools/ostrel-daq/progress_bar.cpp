#include "progress_bar.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define OSTREL_ISATTY _isatty
#define OSTREL_FILENO _fileno
#else
#include <unistd.h>
#define OSTREL_ISATTY isatty
#define OSTREL_FILENO fileno
#endif

namespace ostrel_daq {

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)), terminal_(OSTREL_ISATTY(OSTREL_FILENO(stderr)) != 0) {}

void ProgressBar::Update(double fraction, const std::string &detail) {
    if (!terminal_) return;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    const int permille = static_cast<int>(fraction * 1000);
    if (permille == lastPermille_) return;
    lastPermille_ = permille;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::fprintf(stderr, "\r%s [", label_.c_str());
    for (int i = 0; i < kWidth; ++i) std::fputc(i < filled ? '#' : '.', stderr);
    std::fprintf(stderr, "] %5.1f%% %s   ", fraction * 100.0, detail.c_str());
    std::fflush(stderr);
}

void ProgressBar::Finish(const std::string &detail) {
    if (!terminal_) return;
    lastPermille_ = -1;
    Update(1.0, detail);
    std::fputc('\n', stderr);
}

}  // namespace ostrel_daq
