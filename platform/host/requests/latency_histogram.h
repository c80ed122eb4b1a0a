// Durations in a bounded histogram: logarithmic buckets of ratio 1.02, so that a quantile read
// from it is within 1 % (at most (1.02 - 1) / (1.02 + 1) = 0.99 %) of the exact one, whatever
// the number of durations added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LatencyHistogram {
 public:
  static constexpr double kRatio = 1.02;
  // Bucket i > 0 holds the durations in (kRatio^(i-1), kRatio^i] microseconds; bucket 0 holds
  // 0 and 1. The last bucket also holds everything above (1.02^1500 us, about 92 days).
  static constexpr int kBuckets = 1501;

  void Add(int64_t us);
  void Merge(const LatencyHistogram& other);

  uint64_t count() const { return m_count; }
  int64_t min() const { return m_min; }
  int64_t max() const { return m_max; }
  // The q-quantile (0 < q <= 1) by nearest rank, microseconds; 0 when empty. Within 0.99 % of
  // the exact value of the same rank.
  double Quantile(double q) const;

  // Buckets in use, for drawing: [firstBucket(), firstBucket() + counts().size()).
  int firstBucket() const { return m_first; }
  const std::vector<uint32_t>& counts() const { return m_counts; }
  // The value a bucket stands for (its counts are within 0.99 % of it), microseconds.
  static double BucketValue(int bucket);
  static int BucketOf(int64_t us);
  // Bytes held.
  size_t bytes() const { return m_counts.capacity() * sizeof(uint32_t); }

 private:
  int m_first = 0;
  std::vector<uint32_t> m_counts;  // from bucket m_first on; a count stops at 2^32 - 1
  uint64_t m_count = 0;
  int64_t m_min = 0;
  int64_t m_max = 0;
};
