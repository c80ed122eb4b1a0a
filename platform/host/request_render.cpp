#include "request_render.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "tdsengine/render.h"

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

void PutText(OutBuffer& out, const std::string& s) {
  JsonPutLatin1(out, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

void PutOptionalText(OutBuffer& out, const std::string& s) {
  if (s.empty())
    Put(out, "null");
  else
    PutText(out, s);
}

void PutType(OutBuffer& out, int32_t type) {
  if (type < 0) {
    Put(out, "null");
    return;
  }
  const char* name = DatatypeName(type);
  if (name) {
    JsonPutString(out, name);
    return;
  }
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%02x", static_cast<unsigned>(type) & 0xFFu);
  JsonPutString(out, buf);
}

void PutValue(OutBuffer& out, const ShownValue& v) {
  switch (v.kind) {
    case ShownValue::Kind::kAbsent:
    case ShownValue::Kind::kNull:
      Put(out, "null");
      return;
    case ShownValue::Kind::kUnsigned:
      out.putUnsigned(v.number);
      return;
    case ShownValue::Kind::kSigned:
      out.putSigned(static_cast<int64_t>(v.number));
      return;
    case ShownValue::Kind::kString:
      PutText(out, v.bytes);
      return;
    case ShownValue::Kind::kHex:
      out.put('"');
      for (char c : v.bytes) out.putHexByte(static_cast<uint8_t>(c));
      out.put('"');
      return;
  }
}

void PutParams(OutBuffer& out, const std::vector<RequestParam>& params, bool withOutput) {
  out.put('[');
  for (size_t i = 0; i < params.size(); ++i) {
    const RequestParam& p = params[i];
    if (i) Put(out, ", ");
    Put(out, "{\"name\": ");
    PutOptionalText(out, p.name);
    PutKey(out, "type");
    PutType(out, p.type);
    if (withOutput) {
      PutKey(out, "output");
      out.put(p.output ? "true" : "false");
    }
    PutKey(out, "value");
    PutValue(out, p.value);
    out.put('}');
  }
  out.put(']');
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

// Appends Latin-1 text as UTF-8 on one line: line breaks, tabs and runs of blanks become one
// blank, other control characters are left out. At most maxColumns characters (0: all); a cut
// text ends in "...".
void AppendOneLine(std::string& line, const std::string& text, size_t maxColumns) {
  size_t columns = 0;
  bool blank = false;
  const size_t begin = line.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      blank = line.size() > begin;
      continue;
    }
    if (c < 0x20 || c == 0x7F) continue;
    const size_t need = blank ? 2 : 1;
    if (maxColumns && columns + need > maxColumns) {
      // Make room for the ellipsis.
      while (columns + 3 > maxColumns && line.size() > begin) {
        const uint8_t last = static_cast<uint8_t>(line.back());
        line.pop_back();
        if ((last & 0xC0) == 0x80) line.pop_back();  // the lead byte of a two-byte character
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
    if (c < 0x80) {
      line += static_cast<char>(c);
    } else {
      line += static_cast<char>(0xC0 | (c >> 6));
      line += static_cast<char>(0x80 | (c & 0x3F));
    }
    ++columns;
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

}  // namespace

std::string IsoTime(int64_t us) {
  struct tm parts {};
  int64_t micros = 0;
  SplitTime(us, parts, micros);
  char buf[96];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<long long>(micros));
  return buf;
}

void RequestJsonWriter::Write(const Request& r) {
  OutBuffer& out = m_out;
  const ConnectionInfo* c = r.connection.get();
  Put(out, "{\"request\": ");
  out.putUnsigned(++m_count);
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
  PutOptionalText(out, c ? c->client : std::string());
  PutKey(out, "server");
  PutOptionalText(out, c ? c->server : std::string());
  PutKey(out, "user");
  PutOptionalText(out, c ? c->user : std::string());
  PutKey(out, "host");
  PutOptionalText(out, c ? c->host : std::string());
  PutKey(out, "application");
  PutOptionalText(out, c ? c->application : std::string());
  PutKey(out, "kind");
  JsonPutString(out, RequestKindName(r.kind));
  PutKey(out, "name");
  PutOptionalText(out, r.name);
  PutKey(out, "text");
  PutText(out, r.text);
  PutKey(out, "params");
  Put(out, "{\"count\": ");
  out.putSigned(r.paramCount);
  PutKey(out, "values");
  PutParams(out, r.params, true);
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
      PutType(out, column.type);
      out.put('}');
    }
    out.put(']');
    PutKey(out, "rows");
    out.putUnsigned(set.rows);
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
  PutParams(out, r.output, false);
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

void RequestTextWriter::Write(const Request& r) {
  if (!m_headerDone) Header();
  std::string day;
  const std::string time = TimeOfDay(r.timeUs, &day);
  if (day != m_day) {
    m_day = day;
    Put(m_out, "# ");
    m_out.put(day);
    Put(m_out, " (UTC)\n");
  }
  std::string& line = m_line;
  line.clear();
  line += time;
  line += ' ';
  PadLeft(line, std::to_string(r.conn), kConnWidth);
  line += ' ';
  size_t at = line.size();
  const std::string user = r.connection ? r.connection->user : std::string();
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
  std::string text = Flags(r) + r.text;
  if (!r.note.empty()) text += (r.text.empty() ? "(" : " (") + r.note + ")";
  AppendOneLine(line, text, room);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  m_out.put(line);
  m_out.put('\n');

  ++m_total;
  ++m_perKind[static_cast<int>(r.kind)];
  for (const ServerMessage& m : r.errors) {
    ErrorCount& e = m_errors[m.number];
    if (e.count++ == 0) e.text = m.text;
  }
  if (duration != "-") {
    const int64_t us = r.endUs - r.timeUs;
    if (m_slowest.size() < kSlowest || us > m_slowest.back().us) {
      // The line as written, with its duration column left out.
      Slow slow{us, line.substr(0, durationAt) + line.substr(durationAt + kDurationWidth + 1)};
      auto pos = std::upper_bound(m_slowest.begin(), m_slowest.end(), us,
                                  [](int64_t v, const Slow& s) { return v > s.us; });
      m_slowest.insert(pos, std::move(slow));
      if (m_slowest.size() > kSlowest) m_slowest.pop_back();
    }
  }
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
