// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#ifndef OGMDECAPS_TOOLS_PROGRESS_H
#define OGMDECAPS_TOOLS_PROGRESS_H

#include <chrono>
#include <string>

namespace cli {

class ProgressBar {
 public:
  // Enabled when stderr is a terminal, and when the command writes its
  // output to stdout (outputOnStdout), only if that is not a terminal too:
  // the bar would be drawn into the output lines.
  explicit ProgressBar(bool outputOnStdout = false);
  ~ProgressBar();
  bool enabled() const { return enabled_; }
  // percent in 0..100 (clamped); redrawn at most ten times a second.
  void Update(double percent, const std::string& text);
  // Clears the line.
  void Done();

 private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace cli

#endif
