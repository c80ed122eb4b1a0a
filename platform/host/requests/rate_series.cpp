#include "requests/rate_series.h"

void RateSeries::Halve() {
  for (size_t k = 0; k < m_buckets.size(); k += 2) {
    Bucket merged = m_buckets[k];
    if (k + 1 < m_buckets.size()) {
      merged.requests += m_buckets[k + 1].requests;
      merged.errors += m_buckets[k + 1].errors;
    }
    m_buckets[k / 2] = merged;
  }
  m_buckets.resize((m_buckets.size() + 1) / 2);
  m_width *= 2;
}

void RateSeries::Add(int64_t us, bool error) {
  if (m_buckets.empty()) {
    m_start = us - ((us % 1000000) + 1000000) % 1000000;  // the second it falls in
    m_buckets.reserve(kBuckets);
    m_buckets.resize(1);
  }
  // A request before the start (a later input of several): intervals are added in front.
  while (us < m_start) {
    const uint64_t before = static_cast<uint64_t>(m_start - us);
    const uint64_t add =
        (before + static_cast<uint64_t>(m_width) - 1) / static_cast<uint64_t>(m_width);
    if (add + m_buckets.size() <= kBuckets) {
      m_buckets.insert(m_buckets.begin(), add, Bucket());
      m_start -= static_cast<int64_t>(add) * m_width;
      break;
    }
    // Halving keeps the start: the intervals in front are then of the new width.
    Halve();
  }
  const uint64_t offset = static_cast<uint64_t>(us - m_start);
  while (offset / static_cast<uint64_t>(m_width) >= kBuckets) Halve();
  const uint64_t index = offset / static_cast<uint64_t>(m_width);
  if (index >= m_buckets.size()) m_buckets.resize(index + 1);
  ++m_buckets[index].requests;
  if (error) ++m_buckets[index].errors;
}
