#include "requests/request_filter.h"

#include <cstdlib>
#include <ctime>

bool RequestFilter::Keeps(const Request& r) const {
  if (r.timeUs < m_sinceUs || r.timeUs >= m_untilUs) return false;
  if (m_slowUs < 0) return true;
  const bool answered = r.complete && !r.unanswered && r.endUs >= r.timeUs;
  return answered && r.endUs - r.timeUs > m_slowUs;
}

void RequestFilter::Write(const Request& r) {
  if (!Keeps(r)) return;
  if (m_skip) {
    --m_skip;
    return;
  }
  for (RequestOutput* next : m_next) next->Write(r);
}

void RequestFilter::Finish() {
  for (RequestOutput* next : m_next) next->Finish();
}

namespace {

// Digits [at, at + n) as a number; false when one is not a digit.
bool Digits(const std::string& s, size_t at, size_t n, int& v) {
  if (at + n > s.size()) return false;
  v = 0;
  for (size_t k = at; k < at + n; ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    v = v * 10 + (s[k] - '0');
  }
  return true;
}

// "SECONDS[.FRACTION]" with at most 6 fraction digits, scaled by `scale` per unit.
bool Decimal(const std::string& s, size_t at, int64_t scale, int64_t& out) {
  if (at >= s.size()) return false;
  int64_t whole = 0;
  size_t k = at;
  for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) {
    if (whole > 100000000000000LL / (scale ? scale : 1)) return false;
    whole = whole * 10 + (s[k] - '0');
  }
  if (k == at) return false;
  int64_t fraction = 0;
  int64_t unit = scale;
  if (k < s.size() && s[k] == '.') {
    ++k;
    const size_t digits = k;
    for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) {
      if (unit >= 10) {
        unit /= 10;
        fraction += (s[k] - '0') * unit;
      }
    }
    if (k == digits) return false;
  }
  if (k != s.size()) return false;
  out = whole * scale + fraction;
  return true;
}

}  // namespace

bool ParseMillisOption(const std::string& text, int64_t& us) {
  return Decimal(text, 0, 1000, us);
}

bool ParseTimeOption(const std::string& text, int64_t& us) {
  std::string s = text;
  if (s.size() > 10 && s[4] == '-') {
    if (s.back() == 'Z' || s.back() == 'z')
      s.pop_back();
    else if (s.size() > 6 && s.compare(s.size() - 6, 6, "+00:00") == 0)
      s.resize(s.size() - 6);
  }
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    int year, month, day, hour = 0, minute = 0;
    if (!Digits(s, 0, 4, year) || !Digits(s, 5, 2, month) || !Digits(s, 8, 2, day)) return false;
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    int64_t secondUs = 0;
    if (s.size() > 10) {
      if ((s[10] != 'T' && s[10] != ' ') || s.size() < 16 || s[13] != ':') return false;
      if (!Digits(s, 11, 2, hour) || !Digits(s, 14, 2, minute) || hour > 23 || minute > 59)
        return false;
      if (s.size() > 16) {
        if (s[16] != ':' || !Decimal(s, 17, 1000000, secondUs) || secondUs >= 61000000)
          return false;
      }
    }
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    const time_t seconds = timegm(&t);
    us = static_cast<int64_t>(seconds) * 1000000 + secondUs;
    return true;
  }
  return Decimal(s, 0, 1000000, us);
}
