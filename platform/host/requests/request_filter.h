// Requests kept for the request log and the digest: --slow MS keeps those slower than MS
// milliseconds; --since and --until keep those sent in [since, until).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "requests/request_model.h"

class RequestFilter : public RequestOutput {
 public:
  // slowUs < 0: no threshold.
  RequestFilter(int64_t slowUs, int64_t sinceUs, int64_t untilUs)
      : m_slowUs(slowUs), m_sinceUs(sinceUs), m_untilUs(untilUs) {}
  // Where kept requests go (each in turn).
  void Add(RequestOutput& next) { m_next.push_back(&next); }
  // The next `count` requests kept go nowhere (they were written already).
  void SkipKept(uint64_t count) { m_skip = count; }
  bool Keeps(const Request& r) const;
  void Write(const Request& r) override;
  void Finish() override;

 private:
  int64_t m_slowUs, m_sinceUs, m_untilUs;
  uint64_t m_skip = 0;
  std::vector<RequestOutput*> m_next;
};

// "2026-12-07T02:47:57Z", "2026-12-07 02:47:57.5", "2026-12-07" (UTC; a trailing Z or +00:00
// allowed), or seconds since 1970 ("1796611677.25"), to microseconds since 1970.
bool ParseTimeOption(const std::string& text, int64_t& us);
// "250", "0.5": milliseconds to microseconds.
bool ParseMillisOption(const std::string& text, int64_t& us);
