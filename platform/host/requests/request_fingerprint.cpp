#include "requests/request_fingerprint.h"

#include <cstring>
#include <string_view>

#include "requests/sql_fingerprint.h"

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The text after "WORD NAME: " of a dynamic or cursor request, "" when there is none.
std::string_view StatementOf(const Request& r) {
  const std::string_view text = r.text;
  const size_t colon = text.find(": ");
  return colon == std::string_view::npos ? std::string_view() : text.substr(colon + 2);
}

// A prepared statement's fingerprint without a leading "create proc(edure) NAME as".
void PreparedFingerprint(std::string_view statement, std::string& out) {
  std::string full;
  FingerprintSql(statement, full);
  std::string_view f = full;
  for (const char* head : {"create proc ", "create procedure "}) {
    if (!StartsWith(f, head)) continue;
    const size_t as = f.find(" as ", std::strlen(head));
    if (as != std::string_view::npos && f.find(' ', std::strlen(head)) == as)
      f.remove_prefix(as + 4);
    break;
  }
  out.append(f.data(), f.size());
}

}  // namespace

const RequestFingerprinter::Statement* RequestFingerprinter::Find(const Request& r) const {
  for (auto at = m_statements.rbegin(); at != m_statements.rend(); ++at)
    if (at->conn == r.conn && at->connection == r.connection.get() && at->name == r.name)
      return &*at;
  return nullptr;
}

const std::string& RequestFingerprinter::Of(const Request& r) {
  std::string& f = m_fingerprint;
  f.clear();
  switch (r.kind) {
    case RequestKind::kLanguage:
      FingerprintSql(r.text, f);
      break;
    case RequestKind::kRpc:
    case RequestKind::kDbRpc:
      f = "exec ";
      f += r.name;
      break;
    case RequestKind::kDynamic: {
      const std::string_view statement = StatementOf(r);
      if (StartsWith(r.text, "prepare ") && !statement.empty()) {
        Statement s{r.conn, r.connection.get(), r.name, std::string()};
        PreparedFingerprint(statement, s.fingerprint);
        f = "prepare " + s.fingerprint;
        if (m_statements.size() == kMaxStatements) m_statements.pop_front();
        m_statements.push_back(std::move(s));
      } else if (StartsWith(r.text, "execute immediate") && !statement.empty()) {
        FingerprintSql(statement, f);
      } else if (StartsWith(r.text, "execute ")) {
        const Statement* s = Find(r);
        if (s)
          f = s->fingerprint;
        else
          f = "execute " + r.name;
      } else {
        // deallocate and the rest: the word alone, the statement's name varies.
        f.assign(r.text, 0, r.text.find(' '));
        f.insert(0, "dynamic ");
      }
      break;
    }
    case RequestKind::kCursorDeclare:
      f = "cursor-declare " + r.name + ": ";
      FingerprintSql(StatementOf(r), f);
      break;
    default:
      f = RequestKindName(r.kind);
      if (!r.name.empty()) {
        f += ' ';
        f += r.name;
      }
      break;
  }
  m_id = FingerprintHash(f);
  return f;
}
