// Where the requests of a run go: the filter of --slow, --since and --until, then the request
// log (--requests), the digest (--digest) and the HTML report (--report FILE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "options.h"
#include "requests/request_digest.h"
#include "requests/request_filter.h"
#include "requests/request_render.h"
#include "tdsengine/out_buffer.h"

class RequestOutputs {
 public:
  // width: the line width of text output (0: not cut).
  RequestOutputs(const Options& options, OutBuffer& out, size_t width);
  ~RequestOutputs();
  RequestOutputs(const RequestOutputs&) = delete;
  RequestOutputs& operator=(const RequestOutputs&) = delete;

  // Opens the report file, before anything is read; false with the reason.
  bool Open(std::string& error);
  RequestOutput& sink() { return m_filter; }
  RequestFilter& filter() { return m_filter; }
  // The log's writer of each format (null: not that format, or no log).
  RequestJsonWriter* jsonLog() { return m_json; }
  RequestTextWriter* textLog() { return m_text; }
  // Only the request log is written (neither digest nor report): the log may be written by
  // several workers.
  bool logOnly() const { return m_log && !m_digest; }
  size_t width() const { return m_width; }
  // After the request view finished: the digest written out, the report written to its file.
  // false when the report could not be written (error says why).
  bool Finish(uint64_t connections, std::string& error);

 private:
  const Options& m_options;
  OutBuffer& m_out;
  size_t m_width;
  RequestFilter m_filter;
  std::unique_ptr<RequestOutput> m_log;
  RequestJsonWriter* m_json = nullptr;
  RequestTextWriter* m_text = nullptr;
  std::unique_ptr<RequestDigest> m_digest;
  FILE* m_report = nullptr;
};
