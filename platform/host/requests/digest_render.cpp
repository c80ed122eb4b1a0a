#include "requests/digest_render.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "requests/request_render.h"
#include "requests/sql_fingerprint.h"
#include "tdsengine/render.h"

std::string MillisText(double us) {
  char buf[48];
  // A whole number of microseconds (totals, maxima, most percentiles) has exactly these digits;
  // the general formatting costs ten times more, and a digest writes thousands of figures.
  if (us >= 0 && us < 9.0e15 && us == static_cast<double>(static_cast<int64_t>(us))) {
    const int64_t n = static_cast<int64_t>(us);
    std::string text = std::to_string(n / 1000);
    const int frac = static_cast<int>(n % 1000);
    const char digits[4] = {'.', char('0' + frac / 100), char('0' + frac / 10 % 10),
                            char('0' + frac % 10)};
    text.append(digits, 4);
    return text;
  }
  std::snprintf(buf, sizeof(buf), "%.3f", us / 1000.0);
  return buf;
}

namespace {

template <size_t N>
void Put(OutBuffer& out, const char (&text)[N]) {
  out.put(text, N - 1);
}

void PutString(OutBuffer& out, std::string_view s) {
  JsonPutString(out, s.data(), s.size());
}

double MeanUs(const DigestFigures& f) {
  const uint64_t answered = f.count - f.unanswered;
  return answered ? static_cast<double>(f.totalUs) / static_cast<double>(answered) : 0;
}

// ---- text

void PadLeft(std::string& line, const std::string& text, size_t width) {
  if (text.size() < width) line.append(width - text.size(), ' ');
  line += text;
}

bool IsBlank(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == ' ';
}

// UTF-8 text on one line (control characters as blanks, runs of blanks as one), cut to `room`
// characters (0: not cut) with "...".
void AppendLine(std::string& line, std::string_view text, size_t room) {
  // Marks of undecoded bytes and C1 control characters become their escapes first.
  std::string escaped;
  // (Both begin with one of two lead bytes: looked for with two scans of the text.)
  if (std::memchr(text.data(), 0xC2, text.size()) || std::memchr(text.data(), 0xED, text.size())) {
    for (size_t i = 0; i < text.size();) {
      const size_t taken = AppendSpecialEscape(escaped, text.data() + i, text.size() - i);
      if (!taken) escaped += text[i];
      i += taken ? taken : 1;
    }
    text = escaped;
  }
  size_t characters = 0;
  bool blank = false;
  const size_t limit = room ? room - (room > 3 ? 3 : 0) : SIZE_MAX;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsBlank(c)) {
      blank = true;
      continue;
    }
    // A word that fits goes in at once.
    size_t end = i, count = 0;
    while (end < text.size() && !IsBlank(static_cast<unsigned char>(text[end]))) {
      if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) ++count;
      ++end;
    }
    if ((c & 0xC0) != 0x80 && characters + (blank ? 1 : 0) + count <= limit) {
      if (blank && characters) {
        line += ' ';
        ++characters;
      }
      blank = false;
      line.append(text.data() + i, end - i);
      characters += count;
      i = end - 1;
      continue;
    }
    const bool start = (c & 0xC0) != 0x80;
    if (start) {
      if (room && characters + (blank ? 2 : 1) > room - (room > 3 ? 3 : 0) && i + 1 < text.size()) {
        line += "...";
        return;
      }
      if (blank && characters) {
        line += ' ';
        ++characters;
      }
      blank = false;
      ++characters;
    }
    line += static_cast<char>(c);
  }
}

constexpr size_t kCount = 8, kMs = 11, kRows = 9, kErrors = 7;

std::string FiguresHeader() {
  std::string s;
  PadLeft(s, "COUNT", kCount);
  for (const char* h : {"TOTAL_MS", "MEAN_MS", "P50_MS", "P95_MS", "P99_MS", "MAX_MS"})
    PadLeft(s, h, kMs);
  PadLeft(s, "ROWS", kRows);
  PadLeft(s, "ERRORS", kErrors);
  return s;
}

void AppendFigures(std::string& s, const DigestFigures& f) {
  PadLeft(s, std::to_string(f.count), kCount);
  const bool timed = f.latency.count() > 0;
  PadLeft(s, MillisText(static_cast<double>(f.totalUs)), kMs);
  for (double v : {MeanUs(f), f.latency.Quantile(0.50), f.latency.Quantile(0.95),
                   f.latency.Quantile(0.99), static_cast<double>(f.latency.max())})
    PadLeft(s, timed ? MillisText(v) : "-", kMs);
  PadLeft(s, std::to_string(f.rows), kRows);
  PadLeft(s, f.failed ? std::to_string(f.failed) : "-", kErrors);
}

void PutLine(OutBuffer& out, std::string& line, size_t width) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  (void)width;
  out.put(line);
  out.put('\n');
}

std::string Tally(const char* what, const NameTally& t) {
  std::string s = what;
  s += ": ";
  for (size_t k = 0; k < t.kept.size(); ++k) {
    if (k) s += ", ";
    s += t.kept[k].first.empty() ? "-" : t.kept[k].first;
    s += " (" + std::to_string(t.kept[k].second) + ")";
  }
  if (t.others) s += ", others (" + std::to_string(t.others) + ")";
  return s;
}

void GroupTable(const RequestDigest& d, RequestDigest::Group g, const char* title, OutBuffer& out,
                size_t width) {
  const std::vector<const GroupEntry*> groups = d.Groups(g);
  std::string line = "\n";
  line += title;
  line += groups.empty() ? ": none" : ":";
  PutLine(out, line, width);
  if (groups.empty()) return;
  line = FiguresHeader() + "  NAME";
  PutLine(out, line, width);
  for (const GroupEntry* e : groups) {
    line.clear();
    AppendFigures(line, e->figures);
    line += "  ";
    AppendLine(line, e->name.empty() ? "-" : e->name, 0);
    PutLine(out, line, width);
  }
}

size_t Room(size_t width, size_t used) {
  return width == 0 ? 0 : (width > used + 10 ? width - used : 10);
}

}  // namespace

void WriteDigestText(const RequestDigest& d, OutBuffer& out, size_t width) {
  const DigestFigures& all = d.all();
  std::string line = "Digest: " + std::to_string(all.count) + " requests (" +
                     std::to_string(all.count - all.unanswered) + " answered, " +
                     std::to_string(all.failed) + " with errors)";
  if (all.count) line += " from " + IsoTime(all.firstUs) + " to " + IsoTime(all.lastUs);
  line += ", " + std::to_string(d.fingerprintCount()) + " fingerprints";
  PutLine(out, line, width);
  const std::vector<const FingerprintEntry*> ranked = d.Fingerprints();
  if (ranked.empty()) return;

  line = "\nRANK" + FiguresHeader() + "  FINGERPRINT";
  PutLine(out, line, width);
  for (size_t i = 0; i < ranked.size(); ++i) {
    line.clear();
    PadLeft(line, std::to_string(i + 1), 4);
    AppendFigures(line, ranked[i]->figures);
    line += "  ";
    AppendLine(line, ranked[i]->fingerprint, Room(width, line.size()));
    PutLine(out, line, width);
  }

  line = "\nFingerprints:";
  PutLine(out, line, width);
  for (size_t i = 0; i < ranked.size(); ++i) {
    const FingerprintEntry& e = *ranked[i];
    line = "#" + std::to_string(i + 1) + " ";
    line += e.other ? "(other fingerprints)" : FingerprintIdText(e.id);
    line += " ";
    line += RequestKindName(e.kind);
    line += ", first " + IsoTime(e.figures.firstUs) + ", last " + IsoTime(e.figures.lastUs);
    PutLine(out, line, width);
    line = "   ";
    AppendLine(line, e.fingerprint, Room(width, 3));
    PutLine(out, line, width);
    line = "   ";
    AppendLine(line,
               Tally("users", e.users) + "; " + Tally("applications", e.applications) + "; " +
                   Tally("clients", e.clients),
               Room(width, 3));
    PutLine(out, line, width);
    if (!e.errors.empty()) {
      line = "   errors:";
      for (size_t k = 0; k < e.errors.size(); ++k)
        line += (k ? ", " : " ") + std::to_string(e.errors[k].first) + " (" +
                std::to_string(e.errors[k].second) + ")";
      if (e.otherErrors) line += ", others (" + std::to_string(e.otherErrors) + ")";
      PutLine(out, line, width);
    }
    line = "   example (";
    line += e.example.durationUs >= 0
                ? MillisText(static_cast<double>(e.example.durationUs)) + " ms"
                : "no duration";
    line += ", conn " + std::to_string(e.example.conn) + ", " + IsoTime(e.example.timeUs) + "): ";
    AppendLine(line, e.example.text, Room(width, line.size()));
    PutLine(out, line, width);
  }

  GroupTable(d, RequestDigest::kUsers, "Per user", out, width);
  GroupTable(d, RequestDigest::kApplications, "Per application", out, width);
  GroupTable(d, RequestDigest::kClients, "Per client address", out, width);

  const std::vector<const ErrorEntry*> errors = d.Errors();
  line = errors.empty() ? "\nErrors by number: none" : "\nErrors by number:";
  PutLine(out, line, width);
  if (!errors.empty()) {
    line = "  NUMBER   COUNT  CLASS  FINGERPRINT_ID    TEXT";
    PutLine(out, line, width);
  }
  for (const ErrorEntry* e : errors) {
    line.clear();
    PadLeft(line, std::to_string(e->number), 8);
    PadLeft(line, std::to_string(e->count), 8);
    PadLeft(line, std::to_string(e->severity), 7);
    line += "  " + FingerprintIdText(e->fingerprintId) + "  ";
    AppendLine(line, e->text, Room(width, line.size()));
    PutLine(out, line, width);
  }
  if (d.otherErrors()) {
    line = "  others " + std::to_string(d.otherErrors());
    PutLine(out, line, width);
  }

  // Requests per second, in at most 24 lines.
  const RateSeries& rate = d.rate();
  if (rate.empty()) return;
  const auto& buckets = rate.buckets();
  const size_t per = (buckets.size() + 23) / 24;
  const double seconds = static_cast<double>(rate.widthUs() * static_cast<int64_t>(per)) / 1e6;
  char buf[96];
  std::snprintf(buf, sizeof(buf), "\nRequests per second (intervals of %g s):", seconds);
  line = buf;
  PutLine(out, line, width);
  line = "  START                          REQUESTS  PER_SECOND  ERRORS";
  PutLine(out, line, width);
  for (size_t k = 0; k < buckets.size(); k += per) {
    uint64_t requests = 0, failed = 0;
    for (size_t j = k; j < k + per && j < buckets.size(); ++j) {
      requests += buckets[j].requests;
      failed += buckets[j].errors;
    }
    line = "  " + IsoTime(rate.startUs() + static_cast<int64_t>(k) * rate.widthUs());
    PadLeft(line, std::to_string(requests), 10);
    std::snprintf(buf, sizeof(buf), "%.1f", static_cast<double>(requests) / seconds);
    PadLeft(line, buf, 12);
    PadLeft(line, std::to_string(failed), 8);
    PutLine(out, line, width);
  }
}

namespace {

// ---- JSON

void PutMs(OutBuffer& out, double us) {
  out.put(MillisText(us));
}

void PutTime(OutBuffer& out, const DigestFigures& f, int64_t us) {
  if (f.count)
    PutString(out, IsoTime(us));
  else
    Put(out, "null");
}

void PutFigures(OutBuffer& out, const DigestFigures& f) {
  Put(out, "\"count\": ");
  out.putUnsigned(f.count);
  Put(out, ", \"unanswered\": ");
  out.putUnsigned(f.unanswered);
  Put(out, ", \"total_ms\": ");
  PutMs(out, static_cast<double>(f.totalUs));
  const bool timed = f.latency.count() > 0;
  const struct {
    const char* key;
    double us;
  } times[] = {{", \"mean_ms\": ", MeanUs(f)},
               {", \"p50_ms\": ", f.latency.Quantile(0.50)},
               {", \"p95_ms\": ", f.latency.Quantile(0.95)},
               {", \"p99_ms\": ", f.latency.Quantile(0.99)},
               {", \"max_ms\": ", static_cast<double>(f.latency.max())}};
  for (const auto& t : times) {
    out.put(t.key);
    if (timed)
      PutMs(out, t.us);
    else
      Put(out, "null");
  }
  Put(out, ", \"rows\": ");
  out.putSigned(f.rows);
  Put(out, ", \"with_errors\": ");
  out.putUnsigned(f.failed);
  Put(out, ", \"first_seen\": ");
  PutTime(out, f, f.firstUs);
  Put(out, ", \"last_seen\": ");
  PutTime(out, f, f.lastUs);
}

void PutTally(OutBuffer& out, const char* key, const char* otherKey, const NameTally& t) {
  out.put(key);
  out.put('[');
  for (size_t k = 0; k < t.kept.size(); ++k) {
    if (k) Put(out, ", ");
    Put(out, "{\"name\": ");
    PutString(out, t.kept[k].first);
    Put(out, ", \"count\": ");
    out.putUnsigned(t.kept[k].second);
    out.put('}');
  }
  out.put(']');
  out.put(otherKey);
  out.putUnsigned(t.others);
}

void PutId(OutBuffer& out, uint64_t id) {
  char digits[17];
  FingerprintIdChars(id, digits);
  out.put('"');
  out.put(digits, 16);
  out.put('"');
}

void PutGroups(OutBuffer& out, const RequestDigest& d, RequestDigest::Group g) {
  out.put('[');
  bool first = true;
  for (const GroupEntry* e : d.Groups(g)) {
    if (!first) Put(out, ", ");
    first = false;
    Put(out, "{\"name\": ");
    if (e->other)
      Put(out, "null");
    else
      PutString(out, e->name);
    Put(out, ", ");
    PutFigures(out, e->figures);
    out.put('}');
  }
  out.put(']');
}

}  // namespace

void WriteDigestJson(const RequestDigest& d, OutBuffer& out) {
  const DigestFigures& all = d.all();
  Put(out, "{\"requests\": ");
  out.putUnsigned(all.count);
  Put(out, ", \"answered\": ");
  out.putUnsigned(all.count - all.unanswered);
  Put(out, ", \"unanswered\": ");
  out.putUnsigned(all.unanswered);
  Put(out, ", \"with_errors\": ");
  out.putUnsigned(all.failed);
  Put(out, ", \"rows\": ");
  out.putSigned(all.rows);
  Put(out, ", \"total_ms\": ");
  PutMs(out, static_cast<double>(all.totalUs));
  Put(out, ", \"first_time\": ");
  PutTime(out, all, all.firstUs);
  Put(out, ", \"last_time\": ");
  PutTime(out, all, all.lastUs);
  Put(out, ", \"fingerprint_count\": ");
  out.putUnsigned(d.fingerprintCount());
  Put(out, ", \"fingerprints\": [");
  const std::vector<const FingerprintEntry*> ranked = d.Fingerprints();
  for (size_t i = 0; i < ranked.size(); ++i) {
    const FingerprintEntry& e = *ranked[i];
    if (i) Put(out, ", ");
    Put(out, "{\"rank\": ");
    out.putUnsigned(i + 1);
    Put(out, ", \"fingerprint\": ");
    if (e.other)
      Put(out, "null");
    else
      PutString(out, e.fingerprint);
    Put(out, ", \"fingerprint_id\": ");
    if (e.other)
      Put(out, "null");
    else
      PutId(out, e.id);
    Put(out, ", \"kind\": ");
    if (e.other)
      Put(out, "null");
    else
      JsonPutString(out, RequestKindName(e.kind));
    Put(out, ", ");
    PutFigures(out, e.figures);
    Put(out, ", \"errors\": [");
    for (size_t k = 0; k < e.errors.size(); ++k) {
      if (k) Put(out, ", ");
      Put(out, "{\"number\": ");
      out.putSigned(e.errors[k].first);
      Put(out, ", \"count\": ");
      out.putUnsigned(e.errors[k].second);
      out.put('}');
    }
    Put(out, "], \"other_errors\": ");
    out.putUnsigned(e.otherErrors);
    PutTally(out, ", \"users\": ", ", \"other_users\": ", e.users);
    PutTally(out, ", \"applications\": ", ", \"other_applications\": ", e.applications);
    PutTally(out, ", \"clients\": ", ", \"other_clients\": ", e.clients);
    Put(out, ", \"example\": {\"time\": ");
    PutString(out, IsoTime(e.example.timeUs));
    Put(out, ", \"conn\": ");
    out.putUnsigned(e.example.conn);
    Put(out, ", \"user\": ");
    PutString(out, e.example.user);
    Put(out, ", \"duration_ms\": ");
    if (e.example.durationUs >= 0)
      PutMs(out, static_cast<double>(e.example.durationUs));
    else
      Put(out, "null");
    Put(out, ", \"text\": ");
    PutString(out, e.example.text);
    Put(out, "}}");
  }
  Put(out, "], \"users\": ");
  PutGroups(out, d, RequestDigest::kUsers);
  Put(out, ", \"applications\": ");
  PutGroups(out, d, RequestDigest::kApplications);
  Put(out, ", \"clients\": ");
  PutGroups(out, d, RequestDigest::kClients);
  Put(out, ", \"errors\": [");
  bool first = true;
  for (const ErrorEntry* e : d.Errors()) {
    if (!first) Put(out, ", ");
    first = false;
    Put(out, "{\"number\": ");
    out.putSigned(e->number);
    Put(out, ", \"class\": ");
    out.putSigned(e->severity);
    Put(out, ", \"count\": ");
    out.putUnsigned(e->count);
    Put(out, ", \"text\": ");
    PutString(out, e->text);
    Put(out, ", \"fingerprint_id\": ");
    PutId(out, e->fingerprintId);
    out.put('}');
  }
  Put(out, "], \"other_errors\": ");
  out.putUnsigned(d.otherErrors());
  Put(out, ", \"per_second\": ");
  const RateSeries& rate = d.rate();
  if (rate.empty()) {
    Put(out, "null");
  } else {
    Put(out, "{\"start\": ");
    PutString(out, IsoTime(rate.startUs()));
    Put(out, ", \"interval_s\": ");
    out.putSigned(rate.widthUs() / 1000000);
    for (int pass = 0; pass < 2; ++pass) {
      out.put(pass ? ", \"errors\": [" : ", \"requests\": [");
      for (size_t k = 0; k < rate.buckets().size(); ++k) {
        if (k) Put(out, ", ");
        out.putUnsigned(pass ? rate.buckets()[k].errors : rate.buckets()[k].requests);
      }
      out.put(']');
    }
    out.put('}');
  }
  Put(out, "}\n");
}
