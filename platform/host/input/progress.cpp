#include "input/progress.h"

#include <unistd.h>

#include <cstdio>

Progress::Progress(const FrameSource& source)
    : m_source(source),
      m_enabled(isatty(STDERR_FILENO) && source.size() >= kMinimumSize),
      m_start(std::chrono::steady_clock::now()),
      m_last(m_start) {}

void Progress::Show(uint64_t frames) {
  const auto now = std::chrono::steady_clock::now();
  if (now - m_last < std::chrono::milliseconds(250)) return;
  m_last = now;
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  const double percent = 100.0 * double(m_source.position()) / double(m_source.size());
  std::fprintf(stderr, "\rtdsdecode: %5.1f%%  %llu frames  %.0f frames/s ",
               percent > 100.0 ? 100.0 : percent, static_cast<unsigned long long>(frames),
               seconds > 0 ? double(frames) / seconds : 0.0);
  std::fflush(stderr);
  m_shown = true;
}

void Progress::Done() {
  if (!m_shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_shown = false;
}
