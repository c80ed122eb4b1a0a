// Requests over time in a bounded series: at most kBuckets intervals, each 1 second at first;
// when the span outgrows them, adjacent intervals are merged in pairs and the width doubles.
// Requests before the first one (a later input of several) add intervals in front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class RateSeries {
 public:
  static constexpr size_t kBuckets = 512;

  struct Bucket {
    uint64_t requests = 0;
    uint64_t errors = 0;  // requests with an error
  };

  void Add(int64_t us, bool error);

  bool empty() const { return m_buckets.empty(); }
  int64_t startUs() const { return m_start; }
  int64_t widthUs() const { return m_width; }
  const std::vector<Bucket>& buckets() const { return m_buckets; }

 private:
  void Halve();  // adjacent intervals merged in pairs, the width doubled

  int64_t m_start = 0;
  int64_t m_width = 1000000;
  std::vector<Bucket> m_buckets;
};
