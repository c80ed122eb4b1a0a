#include "requests/request_render.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string_view>

#include "requests/sql_fingerprint.h"
#include "tdsengine/render.h"
#include "views/message_render.h"

namespace {

// A constant text without the cost of measuring it.
template <size_t N>
void Put(OutBuffer& out, const char (&text)[N]) {
  out.put(text, N - 1);
}

// Words for the bits of a completion token's status.
struct StatusWord {
  uint16_t bit;
  const char* word;
};
const StatusWord kStatusWords[] = {
    {0x0001, "more"},  {0x0002, "error"},     {0x0004, "transaction"}, {0x0008, "procedure"},
    {0x0010, "count"}, {0x0020, "attention"}, {0x0040, "event"},
};

void SplitTime(int64_t us, struct tm& parts, int64_t& micros) {
  int64_t seconds = us / 1000000;
  micros = us % 1000000;
  if (micros < 0) {
    micros += 1000000;
    --seconds;
  }
  const time_t t = static_cast<time_t>(seconds);
  gmtime_r(&t, &parts);
}

// Milliseconds with three decimals, from microseconds.
std::string Millis(int64_t us) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%lld.%03lld", static_cast<long long>(us / 1000),
                static_cast<long long>(us % 1000));
  return buf;
}

// Milliseconds with three decimals, from microseconds, straight into the output.
void PutMillis(OutBuffer& out, int64_t us) {
  out.putSigned(us / 1000);
  const int64_t rest = us % 1000;
  const char digits[4] = {'.', static_cast<char>('0' + rest / 100),
                          static_cast<char>('0' + rest / 10 % 10),
                          static_cast<char>('0' + rest % 10)};
  out.put(digits, 4);
}

// "...T10:30:42.815486Z" with its quotes; the part up to the second is kept from the last call,
// as requests come in time order.
void PutIsoTime(OutBuffer& out, int64_t us) {
  static int64_t lastSecond = INT64_MIN;
  static std::string prefix;
  int64_t second = us / 1000000;
  int64_t micros = us % 1000000;
  if (micros < 0) {
    micros += 1000000;
    --second;
  }
  if (second != lastSecond) {
    lastSecond = second;
    const std::string iso = IsoTime(second * 1000000);
    prefix = '"' + iso.substr(0, iso.size() - 8);  // without ".000000Z"
  }
  out.put(prefix);
  char digits[9] = {'.', 0, 0, 0, 0, 0, 0, 'Z', '"'};
  for (int i = 6; i >= 1; --i) {
    digits[i] = static_cast<char>('0' + micros % 10);
    micros /= 10;
  }
  out.put(digits, 9);
}

bool Answered(const Request& r) {
  return r.complete && !r.unanswered && r.endUs >= r.timeUs;
}

// ", \"key\": ", the key given without its quotes.
#define PutKey(out, key) Put(out, ", \"" key "\": ")

// Texts of the model are UTF-8 (bytes that are not are escaped).
void PutText(OutBuffer& out, std::string_view s) {
  JsonPutString(out, s.data(), s.size());
}

void PutOptionalText(OutBuffer& out, std::string_view s) {
  if (s.empty())
    Put(out, "null");
  else
    PutText(out, s);
}

// Values as the message view writes them: {"name", "type", "value"}, and with outputKey
// "output": true for an output parameter.
void PutValues(OutBuffer& out, const ValueStore& values, const std::vector<uint32_t>& which,
               bool outputKey) {
  out.put('[');
  for (size_t i = 0; i < which.size(); ++i) {
    if (i) Put(out, ", ");
    RenderValueJson(values.tree(), values[which[i]], outputKey, out);
  }
  out.put(']');
}

// A value alone, as the message view writes the "value" of a value object.
void PutBareValue(OutBuffer& out, const ValueStore& values, const ValueRecord& v) {
  const std::string_view text = values.Text(v);
  switch (v.kind) {
    case VK_NULL:
      Put(out, "null");
      break;
    case VK_NUMBER:
    case VK_BOOL:
      out.put(text.data(), text.size());
      break;
    default:
      JsonPutString(out, text.data(), text.size());
      break;
  }
}

void PutMessages(OutBuffer& out, const std::vector<ServerMessage>& messages) {
  out.put('[');
  for (size_t i = 0; i < messages.size(); ++i) {
    const ServerMessage& m = messages[i];
    if (i) Put(out, ", ");
    Put(out, "{\"number\": ");
    out.putSigned(m.number);
    PutKey(out, "class");
    out.putSigned(m.severity);
    PutKey(out, "state");
    out.putSigned(m.state);
    PutKey(out, "text");
    PutText(out, m.text);
    out.put('}');
  }
  out.put(']');
}

void PutLogin(OutBuffer& out, const LoginRecord* login) {
  if (!login) {
    Put(out, "null");
    return;
  }
  Put(out, "{\"user\": ");
  PutText(out, login->user);
  PutKey(out, "host");
  PutText(out, login->host);
  PutKey(out, "application");
  PutText(out, login->application);
  PutKey(out, "library");
  PutText(out, login->library);
  PutKey(out, "library_version");
  PutText(out, login->libraryVersion);
  PutKey(out, "packet_size");
  PutText(out, login->packetSize);
  PutKey(out, "byte_order");
  PutOptionalText(out, login->byteOrder);
  PutKey(out, "accepted");
  out.put(login->accepted < 0 ? "null" : login->accepted ? "true" : "false");
  out.put('}');
}

// \xNN of a byte.
void AppendByteEscape(std::string& s, uint8_t byte) {
  static const char kHex[] = "0123456789abcdef";
  const char x[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
  s.append(x, 4);
}

// Appends UTF-8 text on one line: line breaks, tabs and runs of blanks become one blank, other
// control characters are escaped as \xNN. At most maxColumns characters (0: all); a cut text
// ends in "...".
void AppendOneLine(std::string& line, std::string_view text, size_t maxColumns) {
  size_t columns = 0;
  bool blank = false;
  const size_t begin = line.size();
  std::string escape;  // short: kept in the string itself
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      blank = line.size() > begin;
      ++i;
      continue;
    }
    if (c > 0x20 && c < 0x7F) {
      // A run of printable ASCII, appended at once while it fits.
      size_t run = 1;
      while (i + run < text.size() && static_cast<uint8_t>(text[i + run]) > 0x20 &&
             static_cast<uint8_t>(text[i + run]) < 0x7F)
        ++run;
      if (!maxColumns || columns + run + (blank ? 1 : 0) <= maxColumns) {
        if (blank) {
          line += ' ';
          ++columns;
          blank = false;
        }
        line.append(text.data() + i, run);
        columns += run;
        i += run;
        continue;
      }
    }
    // One character: its bytes, or its escape, and the columns it takes (one per character
    // of an escape).
    const char* shown = text.data() + i;
    size_t size = 1, width = 1, taken = 1;
    if (c < 0x20 || c >= 0x7F) {
      escape.clear();
      if (c < 0x80) {
        AppendByteEscape(escape, c);
      } else {
        taken = AppendSpecialEscape(escape, text.data() + i, text.size() - i);
        if (!taken) {
          while (i + size < text.size() && (static_cast<uint8_t>(text[i + size]) & 0xC0) == 0x80)
            ++size;
          taken = size;
        }
      }
      if (!escape.empty()) {
        shown = escape.data();
        size = width = escape.size();
      }
    }
    if (maxColumns && columns + width + (blank ? 1 : 0) > maxColumns) {
      // Make room for the ellipsis.
      while (columns + 3 > maxColumns && line.size() > begin) {
        while (line.size() > begin && (static_cast<uint8_t>(line.back()) & 0xC0) == 0x80)
          line.pop_back();
        if (line.size() > begin) line.pop_back();
        --columns;
      }
      line += "...";
      return;
    }
    if (blank) {
      line += ' ';
      ++columns;
      blank = false;
    }
    if (size == 1)
      line += *shown;
    else
      line.append(shown, size);
    columns += width;
    i += taken;
  }
}

// Cuts a UTF-8 line to `width` characters (0: no limit), ending it in "..." when cut.
void FitWidth(std::string& line, size_t width) {
  size_t characters = 0;
  for (char c : line) characters += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  if (width < 4 || characters <= width) return;
  size_t keep = 0;
  size_t at = 0;
  while (at < line.size()) {
    if ((static_cast<uint8_t>(line[at]) & 0xC0) != 0x80 && keep++ == width - 3) break;
    ++at;
  }
  line.resize(at);
  line += "...";
}

void Pad(std::string& line, size_t from, size_t width) {
  const size_t used = line.size() - from;
  if (used < width) line.append(width - used, ' ');
}

void PadLeft(std::string& line, const std::string& text, size_t width) {
  if (text.size() < width) line.append(width - text.size(), ' ');
  line += text;
}

// Column widths of the text output.
constexpr size_t kTimeWidth = 15;  // HH:MM:SS.uuuuuu
constexpr size_t kConnWidth = 5;
constexpr size_t kUserWidth = 12;
constexpr size_t kKindWidth = 14;
constexpr size_t kDurationWidth = 11;
constexpr size_t kRowsWidth = 7;
constexpr size_t kErrorsWidth = 10;

std::string TimeOfDay(int64_t us, std::string* day) {
  struct tm parts {};
  int64_t micros = 0;
  SplitTime(us, parts, micros);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%02d:%02d:%02d.%06lld", parts.tm_hour, parts.tm_min,
                parts.tm_sec, static_cast<long long>(micros));
  if (day) {
    char d[48];
    std::snprintf(d, sizeof(d), "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday);
    *day = d;
  }
  return buf;
}

std::string ErrorsColumn(const Request& r) {
  if (r.errors.empty()) return "-";
  std::string s;
  for (const ServerMessage& m : r.errors) {
    std::string n = std::to_string(m.number);
    if (!s.empty()) n = "," + n;
    if (s.size() + n.size() > kErrorsWidth - 1) {
      s += "+";
      break;
    }
    s += n;
  }
  return s;
}

std::string RowsColumn(const Request& r) {
  if (!r.countValid && r.results.empty() && r.rowTokens == 0) return "-";
  return std::to_string(r.rows());
}

std::string DurationColumn(const Request& r) {
  return Answered(r) ? Millis(r.endUs - r.timeUs) : "-";
}

// What the text column says besides the text: the request's state and its note.
std::string Flags(const Request& r) {
  std::string s;
  if (r.cancelled) s += "[cancelled] ";
  if (r.unanswered) s += "[unanswered] ";
  if (r.login && r.login->accepted == 0) s += "[refused] ";
  return s;
}

// Characters of one value shown in the text log, and parameters listed on a request's line.
constexpr size_t kValueColumns = 64;
constexpr size_t kListedParams = 32;

bool IsOneOf(const char* type, std::initializer_list<const char*> names) {
  if (!type) return false;
  for (const char* name : names)
    if (std::strcmp(type, name) == 0) return true;
  return false;
}

// Up to kValueColumns characters of UTF-8 text, "..." when cut; single quotes doubled when
// quoted.
void AppendShortened(std::string& s, std::string_view text, bool quoted) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((static_cast<uint8_t>(c) & 0xC0) != 0x80 && characters++ == kValueColumns) {
      s += "...";
      return;
    }
    if (quoted && c == '\'') s += '\'';
    s += c;
  }
}

// Up to kValueColumns characters of character data, "..." when cut, escaped as the message
// view's text escapes them (backslashes and control characters) with single quotes doubled.
void AppendEscapedChars(std::string& s, std::string_view text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if ((c & 0xC0) != 0x80 && characters++ == kValueColumns) {
      s += "...";
      return;
    }
    if (c >= 0x80) {
      const size_t taken = AppendSpecialEscape(s, text.data() + i, text.size() - i);
      if (taken)
        i += taken - 1;
      else
        s += static_cast<char>(c);
      continue;
    }
    switch (c) {
      case '\'':
        s += "''";
        break;
      case '\\':
        s += "\\\\";
        break;
      case '\n':
        s += "\\n";
        break;
      case '\r':
        s += "\\r";
        break;
      case '\t':
        s += "\\t";
        break;
      case 0:
        s += "\\0";
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          AppendByteEscape(s, c);
        else
          s += static_cast<char>(c);
    }
  }
}

// A value as SQL reads it: NULL, numbers and booleans as they are, character data, dates and
// times in single quotes, binary data as 0x and its hex digits.
void AppendValue(std::string& s, const ValueStore& values, const ValueRecord& v) {
  const std::string_view text = values.Text(v);
  switch (v.kind) {
    case VK_NULL:
      s += "NULL";
      return;
    case VK_CHARS:
      s += '\'';
      AppendEscapedChars(s, text);
      s += '\'';
      return;
    case VK_TEXT:
      if (IsOneOf(v.type, {"binary", "varbinary", "longbinary", "image"}) ||
          (v.type && v.type[0] == '0' && v.type[1] == 'x')) {
        s += "0x";
        AppendShortened(s, text, false);
        return;
      }
      if (IsOneOf(v.type,
                  {"datetime", "smalldatetime", "date", "time", "bigdatetime", "bigtime"})) {
        s += '\'';
        AppendShortened(s, text, true);
        s += '\'';
        return;
      }
      AppendShortened(s, text, false);
      return;
    default:
      AppendShortened(s, text, false);
      return;
  }
}

// Names of a request's parameters for the text log: the name sent with the value, else the
// one the statement's description gave it, else the placeholder the statement uses for it
// (@p0, @p1, ... or @p1, @p2, ... as the statement's text shows), else none.
class ParamNaming {
 public:
  explicit ParamNaming(const Request& r) : m_r(r) {
    const std::vector<std::string>* names = r.paramNames.get();
    if (names && !names->empty() && r.params.size() % names->size() == 0) m_described = names;
    if (HasPlaceholder(r.text, "@p0"))
      m_base = 0;
    else if (HasPlaceholder(r.text, "@p1"))
      m_base = 1;
  }
  // The name of params[i], "" when it has none.
  std::string operator()(size_t i) const {
    const std::string_view sent = m_r.values.Name(m_r.values[m_r.params[i]]);
    if (!sent.empty()) return std::string(sent);
    if (m_described) return (*m_described)[i % m_described->size()];
    if (m_base >= 0) return "@p" + std::to_string(static_cast<size_t>(m_base) + i);
    return std::string();
  }

 private:
  static bool HasPlaceholder(const std::string& text, const char* placeholder) {
    const size_t n = std::strlen(placeholder);
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + 1)) {
      const char next = at + n < text.size() ? text[at + n] : ' ';
      if (!std::isalnum(static_cast<unsigned char>(next)) && next != '_') return true;
    }
    return false;
  }

  const Request& m_r;
  const std::vector<std::string>* m_described = nullptr;
  int m_base = -1;
};

// "@a = 1, @b = 'x' output" (values without a name: "1, 'x' output").
void AppendParams(std::string& s, const Request& r) {
  const ParamNaming naming(r);
  for (size_t i = 0; i < r.params.size(); ++i) {
    if (i) s += ", ";
    if (i == kListedParams) {
      s += "... (" + std::to_string(r.params.size() - i) + " more)";
      return;
    }
    const ValueRecord& v = r.values[r.params[i]];
    const std::string name = naming(i);
    if (!name.empty()) s += name + " = ";
    AppendValue(s, r.values, v);
    if (v.flags & VF_OUTPUT) s += " output";
  }
}

// The request as its line shows it: a procedure call as `exec NAME @p = value, ...`, other
// requests their text with the parameter values after it in parentheses, and a cursor's key.
std::string CallText(const Request& r) {
  std::string s;
  if (r.kind == RequestKind::kRpc || r.kind == RequestKind::kDbRpc) {
    s = "exec " + r.name;
    if (!r.params.empty()) {
      s += ' ';
      AppendParams(s, r);
    }
  } else {
    s = r.text;
    if (!r.params.empty()) {
      s += " (";
      AppendParams(s, r);
      s += ')';
    }
  }
  if (!r.key.empty()) {
    s += " key (";
    for (size_t i = 0; i < r.key.size(); ++i) {
      const ValueRecord& v = r.values[r.key[i]];
      if (i) s += ", ";
      const std::string_view name = r.values.Name(v);
      if (!name.empty()) {
        s.append(name.data(), name.size());
        s += " = ";
      }
      AppendValue(s, r.values, v);
    }
    s += ')';
  }
  return s;
}

// The name a returned parameter is shown under: its own, else that of the request's output
// parameter in the same place, else its place among the request's parameters.
std::string OutputName(const Request& r, size_t index) {
  const std::string_view own = r.values.Name(r.values[r.output[index]]);
  if (!own.empty()) return std::string(own);
  const ParamNaming naming(r);
  size_t seen = 0;
  for (size_t i = 0; i < r.params.size(); ++i) {
    if (!(r.values[r.params[i]].flags & VF_OUTPUT) || seen++ != index) continue;
    const std::string name = naming(i);
    return name.empty() ? "param " + std::to_string(i + 1) : name;
  }
  return "output " + std::to_string(index + 1);
}

// The lines under a request's line: messages, errors, return status, returned parameters, and
// the rows kept of each result set.
void DetailLines(const Request& r, std::vector<std::string>& lines) {
  std::string s;
  for (const ServerMessage& m : r.messages) {
    s = "message " + std::to_string(m.number) + ": " + m.text;
    lines.push_back(s);
  }
  for (const ServerMessage& m : r.errors) {
    s = "error " + std::to_string(m.number) + " (class " + std::to_string(m.severity) +
        "): " + m.text;
    lines.push_back(s);
  }
  if (r.hasReturnStatus) lines.push_back("return status " + std::to_string(r.returnStatus));
  for (size_t i = 0; i < r.output.size(); ++i) {
    s = OutputName(r, i) + " = ";
    AppendValue(s, r.values, r.values[r.output[i]]);
    s += " (output)";
    lines.push_back(s);
  }
  for (size_t i = 0; i < r.results.size(); ++i) {
    const ResultSet& set = r.results[i];
    if (!set.dataKept) continue;
    s = "result " + std::to_string(i + 1) + ":";
    const size_t columns = set.columns ? set.columns->size() : 0;
    for (size_t j = 0; j < columns; ++j) {
      s += j ? ", " : " ";
      s += (*set.columns)[j].name;
    }
    s += " (" + std::to_string(set.rows) + (set.rows == 1 ? " row)" : " rows)");
    lines.push_back(s);
    for (const ValueRange& row : set.data) {
      s = "  ";
      for (uint32_t k = 0; k < row.count; ++k) {
        if (k) s += ", ";
        AppendValue(s, r.values, r.values[row.first + k]);
      }
      lines.push_back(s);
    }
    if (set.rows > set.data.size())
      lines.push_back("  ... " + std::to_string(set.rows - set.data.size()) + " more");
  }
}

}  // namespace

size_t AppendSpecialEscape(std::string& s, const char* text, size_t left) {
  char escape[6];
  size_t escapeSize = 0;
  const size_t taken =
      TextEscapeAt(reinterpret_cast<const uint8_t*>(text), left, escape, escapeSize);
  if (taken) s.append(escape, escapeSize);
  return taken;
}

std::string RequestCallText(const Request& request) {
  return CallText(request);
}

std::string IsoTime(int64_t us) {
  // Years 1970 to 9999 the quick way (the digest writes two times per fingerprint).
  if (us >= 0 && us < int64_t(253402300800) * 1000000) {
    char text[32];
    return std::string(text, PutIsoTimeUtc(text, us));
  }
  struct tm parts {};
  int64_t micros = 0;
  SplitTime(us, parts, micros);
  char buf[96];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<long long>(micros));
  return buf;
}

void RequestJsonWriter::PutNumber() {
  Put(m_out, "{\"request\": ");
  m_out.putUnsigned(++m_count);
}

void RequestJsonWriter::PutFingerprint(const Request& r) {
  OutBuffer& out = m_out;
  PutKey(out, "fingerprint");
  PutText(out, m_fingerprints.Of(r));
  PutKey(out, "fingerprint_id");
  char id[17];
  FingerprintIdChars(m_fingerprints.id(), id);
  JsonPutString(out, id, 16);
}

void RequestJsonWriter::Write(const Request& r) {
  OutBuffer& out = m_out;
  const ConnectionInfo* c = r.connection.get();
  if (!m_parts) PutNumber();
  PutKey(out, "time");
  PutIsoTime(out, r.timeUs);
  PutKey(out, "duration_ms");
  if (Answered(r))
    PutMillis(out, r.endUs - r.timeUs);
  else
    Put(out, "null");
  PutKey(out, "frame");
  out.putUnsigned(r.firstFrame);
  PutKey(out, "end_frame");
  if (r.complete && !r.unanswered)
    out.putUnsigned(r.endFrame);
  else
    Put(out, "null");
  PutKey(out, "conn");
  out.putUnsigned(r.conn);
  PutKey(out, "client");
  PutOptionalText(out, c ? c->client() : std::string_view());
  PutKey(out, "server");
  PutOptionalText(out, c ? c->server() : std::string_view());
  PutKey(out, "user");
  PutOptionalText(out, c ? c->user() : std::string_view());
  PutKey(out, "host");
  PutOptionalText(out, c ? c->host() : std::string_view());
  PutKey(out, "application");
  PutOptionalText(out, c ? c->application() : std::string_view());
  PutKey(out, "kind");
  JsonPutString(out, RequestKindName(r.kind));
  PutKey(out, "name");
  PutOptionalText(out, r.name);
  PutKey(out, "text");
  PutText(out, r.text);
  if (m_parts && r.kind == RequestKind::kDynamic)
    m_parts->Fingerprint(r);
  else
    PutFingerprint(r);
  PutKey(out, "params");
  Put(out, "{\"count\": ");
  out.putSigned(r.paramCount);
  PutKey(out, "values");
  PutValues(out, r.values, r.params, true);
  out.put('}');
  PutKey(out, "results");
  out.put('[');
  for (size_t i = 0; i < r.results.size(); ++i) {
    const ResultSet& set = r.results[i];
    if (i) Put(out, ", ");
    Put(out, "{\"columns\": [");
    const size_t columns = set.columns ? set.columns->size() : 0;
    for (size_t j = 0; j < columns; ++j) {
      const ResultColumn& column = (*set.columns)[j];
      if (j) Put(out, ", ");
      Put(out, "{\"name\": ");
      PutText(out, column.name);
      PutKey(out, "type");
      if (column.type)
        JsonPutString(out, column.type);
      else
        Put(out, "null");
      out.put('}');
    }
    out.put(']');
    PutKey(out, "rows");
    out.putUnsigned(set.rows);
    if (set.dataKept) {
      PutKey(out, "data");
      out.put('[');
      for (size_t j = 0; j < set.data.size(); ++j) {
        if (j) Put(out, ", ");
        out.put('[');
        const ValueRange& row = set.data[j];
        for (uint32_t k = 0; k < row.count; ++k) {
          if (k) Put(out, ", ");
          PutBareValue(out, r.values, r.values[row.first + k]);
        }
        out.put(']');
      }
      out.put(']');
    }
    out.put('}');
  }
  out.put(']');
  PutKey(out, "rows");
  out.putSigned(r.rows());
  PutKey(out, "return_status");
  if (r.hasReturnStatus)
    out.putSigned(r.returnStatus);
  else
    Put(out, "null");
  PutKey(out, "output");
  PutValues(out, r.values, r.output, false);
  PutKey(out, "errors");
  PutMessages(out, r.errors);
  PutKey(out, "messages");
  PutMessages(out, r.messages);
  PutKey(out, "status");
  if (r.hasFinalStatus) {
    out.put('[');
    bool first = true;
    for (const StatusWord& w : kStatusWords) {
      if (!(r.finalStatus & w.bit)) continue;
      if (!first) Put(out, ", ");
      first = false;
      JsonPutString(out, w.word);
    }
    out.put(']');
  } else {
    Put(out, "null");
  }
  PutKey(out, "cancelled");
  out.put(r.cancelled ? "true" : "false");
  PutKey(out, "unanswered");
  out.put(r.unanswered ? "true" : "false");
  PutKey(out, "note");
  PutOptionalText(out, r.note);
  PutKey(out, "login");
  PutLogin(out, r.login.get());
  Put(out, "}\n");
}

std::string RequestTextHeader() {
  std::string line;
  line += "TIME";
  Pad(line, 0, kTimeWidth);
  line += ' ';
  PadLeft(line, "CONN", kConnWidth);
  line += ' ';
  size_t at = line.size();
  line += "USER";
  Pad(line, at, kUserWidth);
  line += ' ';
  at = line.size();
  line += "KIND";
  Pad(line, at, kKindWidth);
  line += ' ';
  PadLeft(line, "DURATION_MS", kDurationWidth);
  line += ' ';
  PadLeft(line, "ROWS", kRowsWidth);
  line += ' ';
  at = line.size();
  line += "ERRORS";
  Pad(line, at, kErrorsWidth);
  line += " TEXT";
  return line;
}

void RequestTextWriter::Header() {
  m_headerDone = true;
  m_out.put(RequestTextHeader());
  m_out.put('\n');
}

void RequestTextWriter::Lead(const std::string& day) {
  if (!m_headerDone) Header();
  if (day != m_day) {
    m_day = day;
    Put(m_out, "# ");
    m_out.put(day);
    Put(m_out, " (UTC)\n");
  }
}

void RequestTextWriter::AddSlow(int64_t us, std::string line) {
  if (m_slowest.size() >= kSlowest && us <= m_slowest.back().us) return;
  auto pos = std::upper_bound(m_slowest.begin(), m_slowest.end(), us,
                              [](int64_t v, const Slow& s) { return v > s.us; });
  m_slowest.insert(pos, Slow{us, std::move(line)});
  if (m_slowest.size() > kSlowest) m_slowest.pop_back();
}

void RequestTextWriter::Tally(RequestKind kind, bool timed, int64_t us, std::string_view slowLine) {
  ++m_total;
  ++m_perKind[static_cast<int>(kind)];
  if (timed) AddSlow(us, std::string(slowLine));
}

void RequestTextWriter::CountError(int64_t number, std::string_view text) {
  ErrorCount& e = m_errors[number];
  if (e.count++ == 0) e.text = std::string(text);
}

void RequestTextWriter::Write(const Request& r) {
  std::string day;
  const std::string time = TimeOfDay(r.timeUs, &day);
  if (!m_parts) Lead(day);
  std::string& line = m_line;
  line.clear();
  line += time;
  line += ' ';
  PadLeft(line, std::to_string(r.conn), kConnWidth);
  line += ' ';
  size_t at = line.size();
  const std::string user = r.connection ? std::string(r.connection->user()) : std::string();
  AppendOneLine(line, user.empty() ? "-" : user, kUserWidth);
  Pad(line, at, kUserWidth);
  line += ' ';
  at = line.size();
  line += RequestKindName(r.kind);
  Pad(line, at, kKindWidth);
  line += ' ';
  const size_t durationAt = line.size();
  const std::string duration = DurationColumn(r);
  PadLeft(line, duration, kDurationWidth);
  line += ' ';
  PadLeft(line, RowsColumn(r), kRowsWidth);
  line += ' ';
  at = line.size();
  line += ErrorsColumn(r);
  Pad(line, at, kErrorsWidth);
  line += ' ';
  const size_t fixed = kTimeWidth + kConnWidth + kUserWidth + kKindWidth + kDurationWidth +
                       kRowsWidth + kErrorsWidth + 7;
  const size_t room = m_width == 0 ? 0 : (m_width > fixed + 10 ? m_width - fixed : 10);
  const std::string call = CallText(r);
  std::string text = Flags(r) + call;
  if (!r.note.empty()) text += (call.empty() ? "(" : " (") + r.note + ")";
  AppendOneLine(line, text, room);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  m_out.put(line);
  m_out.put('\n');
  m_details.clear();
  DetailLines(r, m_details);
  for (const std::string& detail : m_details) {
    // Indented by two blanks (rows by four), within the width.
    std::string& under = m_under;
    under.assign(2, ' ');
    const size_t leading = detail.find_first_not_of(' ');
    under.append(leading == std::string::npos ? 0 : leading, ' ');
    const size_t roomUnder =
        m_width == 0 ? 0 : (m_width > under.size() + 10 ? m_width - under.size() : 10);
    AppendOneLine(under,
                  std::string_view(detail).substr(leading == std::string::npos ? 0 : leading),
                  roomUnder);
    m_out.put(under);
    m_out.put('\n');
  }

  ++m_total;
  ++m_perKind[static_cast<int>(r.kind)];
  for (const ServerMessage& m : r.errors) {
    ErrorCount& e = m_errors[m.number];
    if (e.count++ == 0) e.text = m.text;
  }
  const bool timed = duration != "-";
  const int64_t us = timed ? r.endUs - r.timeUs : 0;
  const bool full = m_slowest.size() >= kSlowest;
  const bool enters = timed && (!full || us > m_slowest.back().us);
  // The merge orders lines of equal durations by its own order: a line as slow as the last
  // of the slowest is told too.
  const bool told = m_parts && timed && (enters || us == m_slowest.back().us);
  std::string slow;
  // The line as written, with its duration column left out.
  if (enters || told)
    slow = line.substr(0, durationAt) + line.substr(durationAt + kDurationWidth + 1);
  if (m_parts) m_parts->Tally(r, day, timed, us, told ? &slow : nullptr);
  if (enters) AddSlow(us, std::move(slow));
}

void RequestTextWriter::Finish() {
  if (!m_headerDone) Header();
  std::string line;
  Put(m_out, "\nRequests: ");
  m_out.putUnsigned(m_total);
  m_out.put('\n');
  for (int k = 0; k < kRequestKindCount; ++k) {
    if (!m_perKind[k]) continue;
    line = "  ";
    line += RequestKindName(static_cast<RequestKind>(k));
    Pad(line, 0, 2 + kKindWidth + 1);
    PadLeft(line, std::to_string(m_perKind[k]), 8);
    m_out.put(line);
    m_out.put('\n');
  }
  Put(m_out, "\nErrors by number:");
  m_out.put(m_errors.empty() ? " none\n" : "\n");
  for (const auto& e : m_errors) {
    line = "  ";
    PadLeft(line, std::to_string(e.first), 8);
    line += "  ";
    PadLeft(line, std::to_string(e.second.count), 6);
    line += "  ";
    const size_t room =
        m_width == 0 ? 0 : (m_width > line.size() + 10 ? m_width - line.size() : 10);
    AppendOneLine(line, e.second.text, room);
    m_out.put(line);
    m_out.put('\n');
  }
  Put(m_out, "\nSlowest requests:");
  m_out.put(m_slowest.empty() ? " none\n" : "\n");
  for (const Slow& s : m_slowest) {
    line = "  ";
    PadLeft(line, Millis(s.us), kDurationWidth);
    line += " ms  ";
    line += s.line;
    FitWidth(line, m_width);
    m_out.put(line);
    m_out.put('\n');
  }
}
