// The fingerprint of a request of the request log: what groups the requests of a digest.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "requests/request_model.h"

// Requests are given in the order sent. A language command's fingerprint is that of its
// statement; a procedure call's `exec NAME`; a dynamic statement's execute that of the text its
// connection prepared (without a leading `create proc NAME as`), its prepare `prepare ` and that
// text, an execute immediate that of its statement; a cursor declaration `cursor-declare NAME:`
// and its statement's; other requests their kind and the name they act on (`cursor-fetch c1`,
// `option Set date format`, `login`).
class RequestFingerprinter {
 public:
  // The fingerprint of `r`, valid until the next call.
  const std::string& Of(const Request& r);
  // Its hash (FingerprintHash).
  uint64_t id() const { return m_id; }

  // Prepared statements remembered (the oldest is forgotten past this).
  static constexpr size_t kMaxStatements = 4096;

 private:
  struct Statement {
    uint32_t conn;
    const ConnectionInfo* connection;
    std::string name;
    std::string fingerprint;
  };
  const Statement* Find(const Request& r) const;

  std::string m_fingerprint;
  uint64_t m_id = 0;
  std::deque<Statement> m_statements;  // oldest first
};
