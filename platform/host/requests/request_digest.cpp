#include "requests/request_digest.h"

#include <algorithm>

#include "requests/request_render.h"
#include "requests/sql_fingerprint.h"

namespace {

bool Answered(const Request& r) {
  return r.complete && !r.unanswered && r.endUs >= r.timeUs;
}

template <typename Entry>
bool Costlier(const Entry* a, const Entry* b) {
  if (a->other != b->other) return b->other;
  if (a->figures.totalUs != b->figures.totalUs) return a->figures.totalUs > b->figures.totalUs;
  return a->figures.count > b->figures.count;
}

}  // namespace

std::string_view AddressOf(std::string_view endpoint) {
  if (!endpoint.empty() && endpoint.front() == '[') {
    const size_t close = endpoint.find(']');
    return close == std::string_view::npos ? endpoint.substr(1) : endpoint.substr(1, close - 1);
  }
  const size_t colon = endpoint.rfind(':');
  return colon == std::string_view::npos ? endpoint : endpoint.substr(0, colon);
}

void CopyCut(std::string& to, std::string_view from, size_t max) {
  if (from.size() <= max) {
    to.assign(from.data(), from.size());
    return;
  }
  size_t at = max > 3 ? max - 3 : 0;
  while (at > 0 && (static_cast<unsigned char>(from[at]) & 0xC0) == 0x80) --at;
  to.assign(from.data(), at);
  to += "...";
}

void DigestFigures::Add(const Request& r, bool answered, int64_t us) {
  if (count == 0 || r.timeUs < firstUs) firstUs = r.timeUs;
  if (count == 0 || r.timeUs > lastUs) lastUs = r.timeUs;
  ++count;
  if (!r.errors.empty()) ++failed;
  if (r.rows() > 0) rows += r.rows();
  if (answered) {
    totalUs += us;
    latency.Add(us);
  } else {
    ++unanswered;
  }
}

void NameTally::Add(std::string_view name) {
  for (auto& k : kept) {
    if (k.first == name) {
      ++k.second;
      return;
    }
  }
  if (kept.size() < kKept) {
    kept.emplace_back(std::string(), 1);
    CopyCut(kept.back().first, name, RequestDigest::kMaxNameBytes);
  } else {
    ++others;
  }
}

FingerprintEntry& RequestDigest::EntryOf(const Request& r, const std::string& fingerprint,
                                         uint64_t id) {
  const auto found = m_index.find(id);
  if (found != m_index.end()) return m_fingerprints[found->second];
  if (m_fingerprints.size() >= kMaxFingerprints) {
    // Past the ceiling every new fingerprint is counted under one entry.
    const auto other = m_index.find(0);
    if (other != m_index.end()) return m_fingerprints[other->second];
    m_index.emplace(0, static_cast<uint32_t>(m_fingerprints.size()));
    m_fingerprints.emplace_back();
    m_fingerprints.back().other = true;
    m_fingerprints.back().fingerprint = "(other fingerprints)";
    return m_fingerprints.back();
  }
  m_index.emplace(id, static_cast<uint32_t>(m_fingerprints.size()));
  m_fingerprints.emplace_back();
  FingerprintEntry& e = m_fingerprints.back();
  e.id = id;
  e.kind = r.kind;
  CopyCut(e.fingerprint, fingerprint, kMaxFingerprintBytes);
  return e;
}

void RequestDigest::AddToGroup(GroupTable& g, std::string_view name, const Request& r,
                               bool answered, int64_t us) {
  const uint64_t h = FingerprintHash(name);
  const auto found = g.index.find(h);
  GroupEntry* e = nullptr;
  if (found != g.index.end() && g.entries[found->second].name == name) {
    e = &g.entries[found->second];
  } else if (found == g.index.end() && g.entries.size() < kMaxGroups) {
    g.index.emplace(h, static_cast<uint32_t>(g.entries.size()));
    g.entries.emplace_back();
    e = &g.entries.back();
    CopyCut(e->name, name, kMaxNameBytes);
  } else {
    // Past the ceiling (or a name whose hash another one has): the "other" entry, kept last.
    if (g.entries.empty() || !g.entries.back().other) {
      g.entries.emplace_back();
      g.entries.back().other = true;
      g.entries.back().name = "(others)";
    }
    e = &g.entries.back();
  }
  e->figures.Add(r, answered, us);
}

void RequestDigest::AddConnection(const Request& r, bool answered, int64_t us) {
  const ConnectionInfo* info = r.connection.get();
  if (!info) return;
  const auto found = m_connectionIndex.find(info);
  ConnectionEntry* e = nullptr;
  // An entry whose connection is gone is another connection at the same address.
  if (found != m_connectionIndex.end() && m_connections[found->second].info.lock().get() == info)
    e = &m_connections[found->second];
  if (!e) {
    if (m_connections.size() == kMaxConnections) {
      ++m_otherConnectionRequests;
      return;
    }
    m_connectionIndex[info] = static_cast<uint32_t>(m_connections.size());
    m_connections.emplace_back();
    e = &m_connections.back();
    e->conn = r.conn;
    e->client = info->client();
    e->server = info->server();
    e->info = r.connection;
  }
  // The login is known from its answer on.
  if (e->user.empty() && !info->user().empty()) CopyCut(e->user, info->user(), kMaxNameBytes);
  if (e->application.empty() && !info->application().empty())
    CopyCut(e->application, info->application(), kMaxNameBytes);
  e->figures.Add(r, answered, us);
}

void RequestDigest::KeepSlow(const Request& r, int64_t us, uint64_t id) {
  if (m_slowest.size() == kSlowest && us <= m_slowest.back().durationUs) return;
  ExampleRequest s;
  s.timeUs = r.timeUs;
  s.durationUs = us;
  s.conn = r.conn;
  s.kind = r.kind;
  if (r.connection) CopyCut(s.user, r.connection->user(), kMaxNameBytes);
  s.fingerprintId = id;
  CopyCut(s.text, RequestCallText(r), kMaxExampleBytes);
  const auto at =
      std::upper_bound(m_slowest.begin(), m_slowest.end(), us,
                       [](int64_t v, const ExampleRequest& e) { return v > e.durationUs; });
  m_slowest.insert(at, std::move(s));
  if (m_slowest.size() > kSlowest) m_slowest.pop_back();
}

void RequestDigest::Write(const Request& r) {
  const bool answered = Answered(r);
  const int64_t us = answered ? r.endUs - r.timeUs : 0;
  const std::string& fingerprint = m_fingerprinter.Of(r);
  const uint64_t id = m_fingerprinter.id();

  m_all.Add(r, answered, us);
  m_rate.Add(r.timeUs, !r.errors.empty());

  FingerprintEntry& e = EntryOf(r, fingerprint, id);
  e.figures.Add(r, answered, us);
  for (const ServerMessage& m : r.errors) {
    auto at =
        std::find_if(e.errors.begin(), e.errors.end(),
                     [&m](const std::pair<int64_t, uint64_t>& p) { return p.first == m.number; });
    if (at != e.errors.end())
      ++at->second;
    else if (e.errors.size() < FingerprintEntry::kErrorsKept)
      e.errors.emplace_back(m.number, 1);
    else
      ++e.otherErrors;

    const auto found = m_errorIndex.find(m.number);
    if (found != m_errorIndex.end()) {
      ++m_errors[found->second].count;
    } else if (m_errors.size() < kMaxErrors) {
      m_errorIndex.emplace(m.number, static_cast<uint32_t>(m_errors.size()));
      m_errors.emplace_back();
      ErrorEntry& n = m_errors.back();
      n.number = m.number;
      n.severity = m.severity;
      n.count = 1;
      CopyCut(n.text, m.text, kMaxExampleBytes);
      n.fingerprintId = id;
    } else {
      ++m_otherErrors;
    }
  }
  const ConnectionInfo* c = r.connection.get();
  const std::string_view user = c ? c->user() : std::string_view();
  const std::string_view application = c ? c->application() : std::string_view();
  const std::string_view client = c ? AddressOf(c->client()) : std::string_view();
  e.users.Add(user);
  e.applications.Add(application);
  e.clients.Add(client);
  // The example: the slowest request of the fingerprint (the first, while none has a duration).
  if (e.figures.count == 1 || (answered && us > e.example.durationUs)) {
    e.example.timeUs = r.timeUs;
    e.example.durationUs = answered ? us : -1;
    e.example.conn = r.conn;
    e.example.kind = r.kind;
    e.example.fingerprintId = id;
    CopyCut(e.example.user, user, kMaxNameBytes);
    CopyCut(e.example.text, RequestCallText(r), kMaxExampleBytes);
  }

  AddToGroup(m_groups[kUsers], user, r, answered, us);
  AddToGroup(m_groups[kApplications], application, r, answered, us);
  AddToGroup(m_groups[kClients], client, r, answered, us);
  AddConnection(r, answered, us);
  if (answered) KeepSlow(r, us, id);
}

std::vector<const FingerprintEntry*> RequestDigest::Fingerprints() const {
  std::vector<const FingerprintEntry*> out;
  out.reserve(m_fingerprints.size());
  for (const FingerprintEntry& e : m_fingerprints) out.push_back(&e);
  std::stable_sort(out.begin(), out.end(), Costlier<FingerprintEntry>);
  return out;
}

std::vector<const GroupEntry*> RequestDigest::Groups(Group g) const {
  std::vector<const GroupEntry*> out;
  for (const GroupEntry& e : m_groups[g].entries) out.push_back(&e);
  std::stable_sort(out.begin(), out.end(), Costlier<GroupEntry>);
  return out;
}

std::vector<const ErrorEntry*> RequestDigest::Errors() const {
  std::vector<const ErrorEntry*> out;
  for (const ErrorEntry& e : m_errors) out.push_back(&e);
  std::sort(out.begin(), out.end(),
            [](const ErrorEntry* a, const ErrorEntry* b) { return a->number < b->number; });
  return out;
}

size_t RequestDigest::bytes() const {
  size_t n = sizeof(*this);
  for (const FingerprintEntry& e : m_fingerprints) {
    n += sizeof(e) + e.fingerprint.capacity() + e.example.text.capacity() +
         e.figures.latency.bytes() + e.errors.capacity() * 16;
    for (const NameTally* t : {&e.users, &e.applications, &e.clients})
      for (const auto& k : t->kept) n += sizeof(k) + k.first.capacity();
  }
  for (const auto& g : m_groups)
    for (const GroupEntry& e : g.entries)
      n += sizeof(e) + e.name.capacity() + e.figures.latency.bytes() + 32;
  n += m_index.size() * 32 + m_errors.size() * (sizeof(ErrorEntry) + 64) +
       m_connections.size() * (sizeof(ConnectionEntry) + 64);
  return n;
}
