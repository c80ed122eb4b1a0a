#include "rate_series.h"

void RateSeries::Add(int64_t us, bool error) {
  if (m_buckets.empty()) {
    m_start = us - ((us % 1000000) + 1000000) % 1000000;  // the second it falls in
    m_buckets.reserve(kBuckets);
  }
  // A request before the start (a later input of several) counts in the first interval.
  const uint64_t offset = us > m_start ? static_cast<uint64_t>(us - m_start) : 0;
  uint64_t index = offset / static_cast<uint64_t>(m_width);
  while (index >= kBuckets) {
    for (size_t k = 0; k < m_buckets.size(); ++k) {
      Bucket merged = m_buckets[k];
      if (k % 2 == 0 && k + 1 < m_buckets.size()) {
        merged.requests += m_buckets[k + 1].requests;
        merged.errors += m_buckets[k + 1].errors;
      }
      if (k % 2 == 0) m_buckets[k / 2] = merged;
    }
    m_buckets.resize((m_buckets.size() + 1) / 2);
    m_width *= 2;
    index = offset / static_cast<uint64_t>(m_width);
  }
  if (index >= m_buckets.size()) m_buckets.resize(index + 1);
  ++m_buckets[index].requests;
  if (error) ++m_buckets[index].errors;
}
