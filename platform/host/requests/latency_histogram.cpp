#include "requests/latency_histogram.h"

#include <algorithm>
#include <cmath>

namespace {
const double kLogRatio = std::log(LatencyHistogram::kRatio);
}

int LatencyHistogram::BucketOf(int64_t us) {
  if (us <= 1) return 0;
  const double b = std::ceil(std::log(static_cast<double>(us)) / kLogRatio - 1e-9);
  return b >= kBuckets - 1 ? kBuckets - 1 : static_cast<int>(b);
}

double LatencyHistogram::BucketValue(int bucket) {
  if (bucket <= 0) return 1;
  // The middle of (r^(i-1), r^i] in relative terms: both ends within (r-1)/(r+1) of it.
  return 2 * std::pow(kRatio, bucket) / (kRatio + 1);
}

void LatencyHistogram::Add(int64_t us) {
  if (us < 0) us = 0;
  const int b = BucketOf(us);
  if (m_counts.empty()) {
    m_first = b;
    m_counts.assign(1, 0);
  } else if (b < m_first) {
    m_counts.insert(m_counts.begin(), static_cast<size_t>(m_first - b), 0);
    m_first = b;
  } else if (b >= m_first + static_cast<int>(m_counts.size())) {
    m_counts.resize(static_cast<size_t>(b - m_first + 1), 0);
  }
  uint32_t& n = m_counts[static_cast<size_t>(b - m_first)];
  if (n != UINT32_MAX) ++n;
  m_min = m_count == 0 ? us : std::min(m_min, us);
  m_max = m_count == 0 ? us : std::max(m_max, us);
  ++m_count;
}

void LatencyHistogram::Merge(const LatencyHistogram& o) {
  if (o.m_count == 0) return;
  if (m_count == 0) {
    *this = o;
    return;
  }
  const int first = std::min(m_first, o.m_first);
  const int end = std::max(m_first + static_cast<int>(m_counts.size()),
                           o.m_first + static_cast<int>(o.m_counts.size()));
  std::vector<uint32_t> merged(static_cast<size_t>(end - first), 0);
  for (size_t k = 0; k < m_counts.size(); ++k)
    merged[k + static_cast<size_t>(m_first - first)] = m_counts[k];
  for (size_t k = 0; k < o.m_counts.size(); ++k) {
    uint32_t& n = merged[k + static_cast<size_t>(o.m_first - first)];
    n = o.m_counts[k] > UINT32_MAX - n ? UINT32_MAX : n + o.m_counts[k];
  }
  m_counts.swap(merged);
  m_first = first;
  m_min = std::min(m_min, o.m_min);
  m_max = std::max(m_max, o.m_max);
  m_count += o.m_count;
}

double LatencyHistogram::Quantile(double q) const {
  if (m_count == 0) return 0;
  uint64_t rank = static_cast<uint64_t>(std::ceil(q * static_cast<double>(m_count) - 1e-9));
  rank = std::max<uint64_t>(1, std::min(rank, m_count));
  if (rank == m_count) return static_cast<double>(m_max);
  if (rank == 1) return static_cast<double>(m_min);
  uint64_t seen = 0;
  for (size_t k = 0; k < m_counts.size(); ++k) {
    seen += m_counts[k];
    if (seen >= rank) {
      const double v = m_first + static_cast<int>(k) == 0
                           ? static_cast<double>(m_min)
                           : BucketValue(m_first + static_cast<int>(k));
      return std::min(std::max(v, static_cast<double>(m_min)), static_cast<double>(m_max));
    }
  }
  return static_cast<double>(m_max);
}
