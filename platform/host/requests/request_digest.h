// The digest of the request log: requests grouped by fingerprint, ranked by the time they took
// in all, with their latency spread, rows, errors and who ran them; the same figures per user,
// application and client address; errors by number; requests over time; the slowest requests
// and the connections. Every table has a ceiling, so that memory does not grow with the number
// of requests (see README, Limits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "requests/latency_histogram.h"
#include "requests/rate_series.h"
#include "requests/request_fingerprint.h"
#include "requests/request_model.h"

// Count, time, rows and errors of a group of requests.
struct DigestFigures {
  uint64_t count = 0;
  uint64_t unanswered = 0;  // no duration: unanswered, or cut off by the end of the capture
  uint64_t failed = 0;      // requests with an error
  int64_t rows = 0;
  int64_t totalUs = 0;  // of the answered ones
  int64_t firstUs = 0;  // time of the first and last request
  int64_t lastUs = 0;
  LatencyHistogram latency;

  void Add(const Request& r, bool answered, int64_t us);
};

// Names with their request counts: the first kKept names, the requests of the others counted
// together.
struct NameTally {
  static constexpr size_t kKept = 8;
  std::vector<std::pair<std::string, uint64_t>> kept;
  uint64_t others = 0;
  void Add(std::string_view name);
};

// One request kept whole as an example: its call with the parameter values.
struct ExampleRequest {
  int64_t timeUs = 0;
  int64_t durationUs = -1;  // -1: no duration
  uint32_t conn = 0;
  RequestKind kind = RequestKind::kOther;
  std::string user;
  uint64_t fingerprintId = 0;
  std::string text;  // at most kMaxExampleBytes, cut with "..."
};

struct FingerprintEntry {
  uint64_t id = 0;
  std::string fingerprint;  // at most kMaxFingerprintBytes, cut with "..."
  RequestKind kind = RequestKind::kOther;
  bool other = false;  // the entry of the fingerprints past the ceiling
  DigestFigures figures;
  static constexpr size_t kErrorsKept = 8;
  std::vector<std::pair<int64_t, uint64_t>> errors;  // number, count (the first kErrorsKept)
  uint64_t otherErrors = 0;
  NameTally users, applications, clients;
  ExampleRequest example;  // the slowest
};

// Per user, application or client address.
struct GroupEntry {
  std::string name;
  bool other = false;
  DigestFigures figures;
};

struct ErrorEntry {
  int64_t number = 0;
  int32_t severity = 0;
  uint64_t count = 0;
  std::string text;            // of the first one
  uint64_t fingerprintId = 0;  // of the first request that got it
};

struct ConnectionEntry {
  uint32_t conn = 0;
  std::string client, server, user, application;
  DigestFigures figures;
  std::weak_ptr<const ConnectionInfo> info;
};

class RequestDigest : public RequestOutput {
 public:
  static constexpr size_t kMaxFingerprints = 5000;
  static constexpr size_t kMaxGroups = 1000;  // per user, per application, per client
  static constexpr size_t kMaxErrors = 1000;
  static constexpr size_t kMaxConnections = 1000;
  static constexpr size_t kSlowest = 20;
  static constexpr size_t kMaxFingerprintBytes = 2048;
  static constexpr size_t kMaxExampleBytes = 1024;
  static constexpr size_t kMaxNameBytes = 128;

  void Write(const Request& r) override;

  const DigestFigures& all() const { return m_all; }
  // Ranked by total time, then count, then fingerprint; the "other" entry last.
  std::vector<const FingerprintEntry*> Fingerprints() const;
  enum Group { kUsers, kApplications, kClients };
  std::vector<const GroupEntry*> Groups(Group g) const;  // ranked the same way
  std::vector<const ErrorEntry*> Errors() const;         // by number
  const std::vector<ErrorEntry>& errorTable() const { return m_errors; }
  uint64_t otherErrors() const { return m_otherErrors; }
  const std::vector<ExampleRequest>& slowest() const { return m_slowest; }  // slowest first
  const std::vector<ConnectionEntry>& connections() const { return m_connections; }
  uint64_t otherConnectionRequests() const { return m_otherConnectionRequests; }
  const RateSeries& rate() const { return m_rate; }
  size_t fingerprintCount() const { return m_fingerprints.size(); }
  // Bytes held by the tables (an estimate from their sizes and capacities).
  size_t bytes() const;

 private:
  struct GroupTable {
    std::vector<GroupEntry> entries;
    std::unordered_map<uint64_t, uint32_t> index;  // name hash -> entry
  };
  FingerprintEntry& EntryOf(const Request& r, const std::string& fingerprint, uint64_t id);
  void AddToGroup(GroupTable& g, std::string_view name, const Request& r, bool answered,
                  int64_t us);
  void AddConnection(const Request& r, bool answered, int64_t us);
  void KeepSlow(const Request& r, int64_t us, uint64_t id);

  RequestFingerprinter m_fingerprinter;
  DigestFigures m_all;
  std::vector<FingerprintEntry> m_fingerprints;
  std::unordered_map<uint64_t, uint32_t> m_index;
  GroupTable m_groups[3];
  std::vector<ErrorEntry> m_errors;
  std::unordered_map<int64_t, uint32_t> m_errorIndex;
  uint64_t m_otherErrors = 0;
  std::vector<ExampleRequest> m_slowest;
  std::vector<ConnectionEntry> m_connections;
  std::unordered_map<const ConnectionInfo*, uint32_t> m_connectionIndex;
  uint64_t m_otherConnectionRequests = 0;
  RateSeries m_rate;
};

// "127.0.0.1" of "127.0.0.1:34590", "2001:db8::1" of "[2001:db8::1]:5000".
std::string_view AddressOf(std::string_view endpoint);
// A copy of at most `max` bytes of UTF-8 text, cut at a character and ended in "..." when cut.
void CopyCut(std::string& to, std::string_view from, size_t max);
