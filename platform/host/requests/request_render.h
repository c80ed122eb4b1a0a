// Writing the request log: JSON Lines (one object per request) or aligned text (one line per
// request, then a summary: requests per kind, errors by number, the slowest requests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "requests/request_fingerprint.h"
#include "requests/request_model.h"
#include "tdsengine/out_buffer.h"

// "2026-12-04T10:30:42.815486Z".
std::string IsoTime(int64_t us);

// Characters of decoded text that the text outputs show escaped though they are UTF-8: the mark
// of a byte that did not decode (as \xNN) and C1 control characters (as \u0080 to \u009f).
// Appends the escape of the one at `text` and returns the bytes it takes there, or 0 (nothing
// appended) for any other character.
size_t AppendSpecialEscape(std::string& s, const char* text, size_t left);

// When several workers write the log and a merge puts their records in order, the parts of a
// record that depend on the records before it in the whole log are left to the merge: the
// number (JSON), the fingerprint of a dynamic request (it names the statement prepared before
// it), the header and date lines and the summary (text). A writer given parts tells them here.
class RequestLogParts {
 public:
  virtual ~RequestLogParts() = default;
  // JSON: the fingerprint and its id of this dynamic request go here.
  virtual void Fingerprint(const Request& request) = 0;
  // Text: the line is written. day: its date; timed: it has a duration, `us`; slowLine: the
  // line as the list of the slowest requests shows it, when it is among this writer's slowest
  // so far or as slow as the last of them (null otherwise).
  virtual void Tally(const Request& request, const std::string& day, bool timed, int64_t us,
                     const std::string* slowLine) = 0;
};

// One object per request, keys always present and in this order:
// request, time, duration_ms, frame, end_frame, conn, client, server, user, host, application,
// kind, name, text, fingerprint, fingerprint_id, params {count, values [{name, type, value, output
// (when true)}]}, results [{columns [{name, type}], rows, data (rows kept) [[value, ...], ...]}],
// rows, return_status, output [{name, type, value}], errors and messages [{number, class, state,
// text}], status, cancelled, unanswered, note, login {user, host, application, library,
// library_version, packet_size, byte_order, accepted}.
class RequestJsonWriter : public RequestOutput {
 public:
  explicit RequestJsonWriter(OutBuffer& out) : m_out(out) {}
  void Write(const Request& request) override;

  // Records without their number, and dynamic requests without their fingerprint, told there.
  void SetParts(RequestLogParts* parts) { m_parts = parts; }
  // For a merge: `{"request": N` with the next number; the fingerprint keys of a request.
  void PutNumber();
  void PutFingerprint(const Request& request);

 private:
  OutBuffer& m_out;
  RequestLogParts* m_parts = nullptr;
  uint64_t m_count = 0;
  RequestFingerprinter m_fingerprints;
};

class RequestTextWriter : public RequestOutput {
 public:
  // width: the line width the text column is shortened to (0: not shortened).
  RequestTextWriter(OutBuffer& out, size_t width) : m_out(out), m_width(width) {}
  void Write(const Request& request) override;
  void Finish() override;

  // Lines without the header and date lines, their share of the summary told there.
  void SetParts(RequestLogParts* parts) { m_parts = parts; }
  // For a merge: the header (before the first line) and the date line (when the day changed)
  // of a line of that day; a line's share of the summary, and one error of it.
  void Lead(const std::string& day);
  void Tally(RequestKind kind, bool timed, int64_t us, std::string_view slowLine);
  void CountError(int64_t number, std::string_view text);

  static constexpr size_t kSlowest = 10;

 private:
  struct Slow {
    int64_t us;
    std::string line;  // the request's line without its duration
  };
  struct ErrorCount {
    uint64_t count = 0;
    std::string text;  // of the first one
  };

  void Header();
  // Adds to the slowest if it is among them.
  void AddSlow(int64_t us, std::string line);

  OutBuffer& m_out;
  size_t m_width;
  RequestLogParts* m_parts = nullptr;
  bool m_headerDone = false;
  std::string m_day;  // the date of the last line written
  uint64_t m_total = 0;
  uint64_t m_perKind[kRequestKindCount] = {};
  std::map<int64_t, ErrorCount> m_errors;
  std::vector<Slow> m_slowest;         // at most kSlowest, slowest first
  std::string m_line;                  // reused for every line
  std::vector<std::string> m_details;  // the lines under a request's line
  std::string m_under;
};

// The request as the log's text line shows it: `exec NAME @a = 1, ...`, or its text with the
// parameter values after it in parentheses.
std::string RequestCallText(const Request& request);

// The columns of text output, for the README and tests.
std::string RequestTextHeader();
