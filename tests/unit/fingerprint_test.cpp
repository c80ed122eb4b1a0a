// Statement fingerprints against the table in tests/data/fingerprints/statements.txt, the hash
// against known values, and the latency histogram's quantiles against exact ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "plugin_harness.h"
#include "requests/latency_histogram.h"
#include "requests/rate_series.h"
#include "requests/sql_fingerprint.h"

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 't')) {
      out += s[++i] == 'n' ? '\n' : '\t';
      continue;
    }
    out += s[i];
  }
  return out;
}

TEST(Fingerprint, TableOfStatements) {
  std::ifstream in(UnitTestData("fingerprints/statements.txt"));
  ASSERT_TRUE(in) << "fingerprints/statements.txt";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.rfind('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    std::string got;
    FingerprintSql(Unescape(line.substr(0, tab)), got);
    EXPECT_EQ(got, line.substr(tab + 1)) << "statement: " << line.substr(0, tab);
    ++cases;
  }
  EXPECT_GE(cases, 20);
}

TEST(Fingerprint, HashIsFnv1a64) {
  EXPECT_EQ(FingerprintIdText(FingerprintHash("")), "cbf29ce484222325");
  EXPECT_EQ(FingerprintIdText(FingerprintHash("a")), "af63dc4c8601ec8c");
  EXPECT_EQ(FingerprintIdText(FingerprintHash("select ?")),
            FingerprintIdText(FingerprintHash("select ?")));
}

// Nearest-rank quantile of sorted values.
int64_t Exact(const std::vector<int64_t>& sorted, double q) {
  size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size()) - 1e-9));
  rank = std::max<size_t>(1, std::min(rank, sorted.size()));
  return sorted[rank - 1];
}

TEST(LatencyHistogram, QuantilesWithinOnePercent) {
  std::mt19937_64 random(7);
  // Log-normal durations around 2 ms, a spread over five decades, and a few zeros.
  std::lognormal_distribution<double> spread(std::log(2000.0), 1.5);
  for (int run = 0; run < 3; ++run) {
    LatencyHistogram h, half1, half2;
    std::vector<int64_t> values;
    const int n = run == 0 ? 7 : run == 1 ? 1000 : 200000;
    for (int k = 0; k < n; ++k) {
      const int64_t v = k % 97 == 5 ? 0 : static_cast<int64_t>(spread(random));
      values.push_back(v);
      h.Add(v);
      (k % 2 ? half1 : half2).Add(v);
    }
    half1.Merge(half2);
    std::sort(values.begin(), values.end());
    for (double q : {0.01, 0.25, 0.5, 0.9, 0.95, 0.99, 0.999, 1.0}) {
      const double exact = static_cast<double>(Exact(values, q));
      for (const LatencyHistogram* which : {&h, &half1}) {
        const double got = which->Quantile(q);
        // Durations are whole microseconds: below 100 us the error is at most one.
        EXPECT_LE(std::fabs(got - exact), std::max(exact * 0.0099, 1.0))
            << "n " << n << " q " << q << " exact " << exact << " got " << got;
      }
    }
    EXPECT_EQ(h.count(), static_cast<uint64_t>(n));
    EXPECT_EQ(h.max(), values.back());
    EXPECT_LE(h.counts().size(), static_cast<size_t>(LatencyHistogram::kBuckets));
  }
}

TEST(RateSeries, MergesPairsWhenFull) {
  RateSeries r;
  const int64_t t0 = 1796611677000000;  // a whole second
  for (int64_t s = 0; s < 1000; ++s) r.Add(t0 + s * 1000000 + 500, s % 10 == 0);
  EXPECT_EQ(r.widthUs(), 2000000);
  EXPECT_EQ(r.startUs(), t0);
  ASSERT_EQ(r.buckets().size(), 500u);
  uint64_t requests = 0, errors = 0;
  for (const auto& b : r.buckets()) {
    EXPECT_EQ(b.requests, 2u);
    requests += b.requests;
    errors += b.errors;
  }
  EXPECT_EQ(requests, 1000u);
  EXPECT_EQ(errors, 100u);

  // An earlier request (a second capture read after the first) adds intervals in front.
  r.Add(t0 - 10 * 1000000, false);
  EXPECT_EQ(r.startUs(), t0 - 10 * 1000000);
  EXPECT_EQ(r.buckets().size(), 505u);
  EXPECT_EQ(r.buckets().front().requests, 1u);
  r.Add(t0 - 4000 * 1000000LL, false);
  EXPECT_LE(r.buckets().size(), RateSeries::kBuckets);
  EXPECT_LE(r.startUs(), t0 - 4000 * 1000000LL);
  EXPECT_EQ(r.buckets().front().requests, 1u);
}

}  // namespace
