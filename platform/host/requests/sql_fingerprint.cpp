#include "requests/sql_fingerprint.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// Words lower-cased in fingerprints. Identifiers are kept as written: a server may compare
// them with their case.
constexpr const char* kKeywords[] = {
    "add",        "all",      "alter",     "and",         "any",      "as",          "asc",
    "at",         "avg",      "begin",     "between",     "break",    "browse",      "by",
    "cascade",    "case",     "cast",      "char_length", "check",    "checkpoint",  "close",
    "coalesce",   "commit",   "compute",   "constraint",  "continue", "convert",     "count",
    "create",     "cross",    "current",   "cursor",      "database", "deallocate",  "declare",
    "default",    "delete",   "desc",      "distinct",    "drop",     "dump",        "else",
    "end",        "escape",   "exec",      "execute",     "exists",   "fetch",       "for",
    "foreign",    "from",     "full",      "function",    "go",       "goto",        "grant",
    "group",      "having",   "holdlock",  "identity",    "if",       "in",          "index",
    "inner",      "insert",   "intersect", "into",        "is",       "isnull",      "join",
    "key",        "kill",     "left",      "like",        "lock",     "max",         "min",
    "noholdlock", "nolock",   "not",       "null",        "nullif",   "of",          "off",
    "on",         "only",     "open",      "option",      "or",       "order",       "outer",
    "output",     "plan",     "prepare",   "primary",     "print",    "proc",        "procedure",
    "raiserror",  "read",     "readpast",  "references",  "return",   "revoke",      "right",
    "rollback",   "rowcount", "save",      "select",      "set",      "some",        "substring",
    "sum",        "table",    "then",      "top",         "tran",     "transaction", "trigger",
    "truncate",   "union",    "unique",    "update",      "use",      "using",       "values",
    "view",       "waitfor",  "when",      "where",       "while",    "with",        "work",
};

constexpr size_t kKeywordCount = std::size(kKeywords);

constexpr uint32_t WordHash(const char* s, size_t size) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) h = (h ^ static_cast<uint8_t>(s[i])) * 16777619u;
  return h;
}

// The keywords by the hash of their text, open addressing (a word is looked up for every word
// of every statement): a slot holds a keyword's index + 1, 0 when empty.
struct KeywordIndex {
  uint8_t slot[256] = {};
  uint8_t length[kKeywordCount] = {};
  size_t longest = 0;
  constexpr KeywordIndex() {
    for (size_t k = 0; k < kKeywordCount; ++k) {
      size_t n = 0;
      while (kKeywords[k][n]) ++n;
      length[k] = static_cast<uint8_t>(n);
      if (n > longest) longest = n;
      size_t at = WordHash(kKeywords[k], n) & 255;
      while (slot[at]) at = (at + 1) & 255;
      slot[at] = static_cast<uint8_t>(k + 1);
    }
  }
};
constexpr KeywordIndex kKeywordIndex;
static_assert(kKeywordCount < 200, "the index stays sparse");

bool IsKeyword(const char* lower, size_t size) {
  if (size > kKeywordIndex.longest) return false;
  for (size_t at = WordHash(lower, size) & 255; kKeywordIndex.slot[at]; at = (at + 1) & 255) {
    const size_t k = kKeywordIndex.slot[at] - 1u;
    if (kKeywordIndex.length[k] == size && std::memcmp(kKeywords[k], lower, size) == 0) return true;
  }
  return false;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsWordStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordPart(char c) {
  return IsWordStart(c) || IsDigit(c) || c == '$';
}

class Scanner {
 public:
  explicit Scanner(std::string_view s) : m_s(s) {}

  // Past white space and comments from `at`; sets `gap` when there was any.
  size_t SkipGap(size_t at, bool& gap) const {
    while (at < m_s.size()) {
      if (IsSpace(m_s[at])) {
        ++at;
      } else if (m_s.compare(at, 2, "--") == 0) {
        while (at < m_s.size() && m_s[at] != '\n') ++at;
      } else if (m_s.compare(at, 2, "/*") == 0) {
        int depth = 0;
        while (at < m_s.size()) {
          if (m_s.compare(at, 2, "/*") == 0) {
            ++depth;
            at += 2;
          } else if (m_s.compare(at, 2, "*/") == 0) {
            at += 2;
            if (--depth == 0) break;
          } else {
            ++at;
          }
        }
      } else {
        break;
      }
      gap = true;
    }
    return at;
  }

  // The end of a quoted text opened at `at` (doubled quotes inside), or the end of the input.
  size_t QuotedEnd(size_t at) const {
    const char quote = m_s[at++];
    while (at < m_s.size()) {
      if (m_s[at] == quote) {
        if (at + 1 < m_s.size() && m_s[at + 1] == quote) {
          at += 2;
          continue;
        }
        return at + 1;
      }
      ++at;
    }
    return at;
  }

  // The end of a literal starting at `at`, or 0 when none starts there. `unary`: a sign here
  // is the sign of a number.
  size_t LiteralEnd(size_t at, bool unary) const {
    const size_t n = m_s.size();
    const char c = m_s[at];
    if (c == '\'' || c == '"') return QuotedEnd(at);
    if ((c == 'N' || c == 'n') && at + 1 < n && m_s[at + 1] == '\'') return QuotedEnd(at + 1);
    size_t i = at;
    if (unary && (c == '-' || c == '+')) {
      ++i;
      while (i < n && IsSpace(m_s[i])) ++i;
    }
    if (i < n && m_s[i] == '$') ++i;  // money
    if (i + 1 < n && m_s[i] == '0' && (m_s[i + 1] == 'x' || m_s[i + 1] == 'X')) {
      i += 2;
      while (i < n && IsHexDigit(m_s[i])) ++i;
      return i;
    }
    const size_t digits = i;
    while (i < n && IsDigit(m_s[i])) ++i;
    if (i < n && m_s[i] == '.') {
      ++i;
      while (i < n && IsDigit(m_s[i])) ++i;
    }
    if (i == digits || (i == digits + 1 && m_s[digits] == '.')) return 0;  // no digit
    if (i < n && (m_s[i] == 'e' || m_s[i] == 'E')) {
      size_t j = i + 1;
      if (j < n && (m_s[j] == '+' || m_s[j] == '-')) ++j;
      if (j < n && IsDigit(m_s[j])) {
        i = j;
        while (i < n && IsDigit(m_s[i])) ++i;
      }
    }
    return i;
  }

  // After `in`, at an opening parenthesis: the end of a list of literals and placeholders
  // "( lit, lit, ... )", or 0 when the parentheses hold something else.
  size_t LiteralListEnd(size_t at) const {
    bool gap = false;
    size_t i = SkipGap(at + 1, gap);
    while (i < m_s.size()) {
      size_t end = m_s[i] == '?' ? i + 1 : LiteralEnd(i, true);
      if (end == 0) {
        // NULL is a literal in a list too.
        if (m_s.size() - i >= 4 && (m_s[i] | 0x20) == 'n' && (m_s[i + 1] | 0x20) == 'u' &&
            (m_s[i + 2] | 0x20) == 'l' && (m_s[i + 3] | 0x20) == 'l' &&
            (i + 4 == m_s.size() || !IsWordPart(m_s[i + 4])))
          end = i + 4;
        else
          return 0;
      }
      i = SkipGap(end, gap);
      if (i >= m_s.size()) return 0;
      if (m_s[i] == ')') return i + 1;
      if (m_s[i] != ',') return 0;
      i = SkipGap(i + 1, gap);
    }
    return 0;
  }

 private:
  std::string_view m_s;
};

}  // namespace

void FingerprintSql(std::string_view s, std::string& out) {
  const Scanner scan(s);
  const size_t start = out.size();
  // What was emitted last: a sign after an operator or a keyword is unary.
  enum class Last { kNothing, kKeyword, kOperand, kOperator };
  Last last = Last::kNothing;
  bool lastWasIn = false;
  bool gap = false;
  char word[24];
  auto emit = [&](const char* text, size_t size) {
    if (gap && out.size() > start) out += ' ';
    gap = false;
    out.append(text, size);
  };
  size_t i = 0;
  while (true) {
    i = scan.SkipGap(i, gap);
    if (i >= s.size()) break;
    const char c = s[i];
    if (c == '(' && lastWasIn) {
      const size_t end = scan.LiteralListEnd(i);
      if (end) {
        emit("(?+)", 4);
        i = end;
        last = Last::kOperand;
        lastWasIn = false;
        continue;
      }
    }
    lastWasIn = false;
    const bool unary = last != Last::kOperand;
    const size_t literal = scan.LiteralEnd(i, unary);
    if (literal) {
      emit("?", 1);
      i = literal;
      last = Last::kOperand;
      continue;
    }
    if (IsWordStart(c)) {
      size_t end = i + 1;
      while (end < s.size() && IsWordPart(s[end])) ++end;
      const size_t size = end - i;
      bool keyword = false;
      if (size < sizeof(word)) {
        for (size_t k = 0; k < size; ++k) {
          const char w = s[i + k];
          word[k] = w >= 'A' && w <= 'Z' ? static_cast<char>(w - 'A' + 'a') : w;
        }
        word[size] = 0;
        keyword = IsKeyword(word, size);
      }
      if (keyword) {
        emit(word, size);
        lastWasIn = size == 2 && word[0] == 'i' && word[1] == 'n';
      } else {
        emit(s.data() + i, size);
      }
      last = keyword ? Last::kKeyword : Last::kOperand;
      i = end;
      continue;
    }
    if (c == '[') {  // a quoted identifier, kept
      size_t end = s.find(']', i);
      end = end == std::string_view::npos ? s.size() : end + 1;
      emit(s.data() + i, end - i);
      last = Last::kOperand;
      i = end;
      continue;
    }
    emit(&c, 1);
    last = c == ')' || c == '?' ? Last::kOperand : Last::kOperator;
    ++i;
  }
}

uint64_t FingerprintHash(std::string_view fingerprint) {
  uint64_t h = 14695981039346656037ull;
  for (char c : fingerprint) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

void FingerprintIdChars(uint64_t id, char (&digits)[17]) {
  static const char kHex[] = "0123456789abcdef";
  for (int k = 15; k >= 0; --k) {
    digits[k] = kHex[id & 0xF];
    id >>= 4;
  }
  digits[16] = 0;
}

std::string FingerprintIdText(uint64_t id) {
  char digits[17];
  FingerprintIdChars(id, digits);
  return digits;
}
