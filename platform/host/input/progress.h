// A progress line on standard error while a large file is read, when standard error is a
// terminal. The line is erased at the end, so it never mixes with the final output.
#pragma once

#include <chrono>
#include <cstdint>

#include "input/frame_source.h"

class Progress {
 public:
  static constexpr uint64_t kMinimumSize = 8u << 20;  // smaller inputs finish too fast to bother

  explicit Progress(const FrameSource& source);
  ~Progress() { Done(); }

  void Tick(uint64_t frames) {
    if (m_enabled && (frames & 1023) == 0) Show(frames);
  }
  void Done();

 private:
  void Show(uint64_t frames);

  const FrameSource& m_source;
  bool m_enabled;
  bool m_shown = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_last;
};
