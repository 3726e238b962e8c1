#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace cli {

ProgressBar::ProgressBar(bool outputOnStdout)
    : enabled_(isatty(STDERR_FILENO) == 1 && !(outputOnStdout && isatty(STDOUT_FILENO) == 1)) {}

ProgressBar::~ProgressBar() { Done(); }

void ProgressBar::Update(double percent, const std::string& text) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  if (!(percent >= 0)) percent = 0;
  if (percent > 100) percent = 100;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent / 100 * kWidth + 0.5);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r[%s] %5.1f%% %s\033[K", bar.c_str(), percent, text.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Done() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace cli
