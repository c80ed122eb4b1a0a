#include "requests/request_outputs.h"

#include <cerrno>
#include <cstring>

#include "requests/digest_render.h"
#include "requests/html_report.h"
#include "requests/request_render.h"

RequestOutputs::RequestOutputs(const Options& o, OutBuffer& out, size_t width)
    : m_options(o), m_out(out), m_width(width), m_filter(o.slowUs, o.sinceUs, o.untilUs) {
  if (o.requests) {
    if (o.format == OutputFormat::kJson)
      m_log.reset(m_json = new RequestJsonWriter(out));
    else
      m_log.reset(m_text = new RequestTextWriter(out, width));
    m_filter.Add(*m_log);
  }
  if (o.digest || !o.report.empty()) {
    m_digest.reset(new RequestDigest);
    m_filter.Add(*m_digest);
  }
}

RequestOutputs::~RequestOutputs() {
  if (m_report) std::fclose(m_report);
}

bool RequestOutputs::Open(std::string& error) {
  if (m_options.report.empty()) return true;
  m_report = std::fopen(m_options.report.c_str(), "wb");
  if (!m_report) {
    error = m_options.report + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool RequestOutputs::Finish(uint64_t connections, std::string& error) {
  if (m_digest && m_options.digest) {
    if (m_log && m_options.format == OutputFormat::kText) m_out.put('\n');
    if (m_options.format == OutputFormat::kJson)
      WriteDigestJson(*m_digest, m_out);
    else
      WriteDigestText(*m_digest, m_out, m_width);
  }
  if (!m_report) return true;
  ReportContext context;
  if (!m_options.iface.empty())
    context.inputs.push_back(m_options.iface);
  else if (m_options.hexInput)
    context.inputs.push_back(m_options.hexFile);
  else
    context.inputs = m_options.captures;
  context.connections = connections;
  const std::string page = HtmlReport(*m_digest, context);
  const bool written = std::fwrite(page.data(), 1, page.size(), m_report) == page.size();
  const int why = errno;
  const bool closed = std::fclose(m_report) == 0;
  m_report = nullptr;
  if (written && closed) return true;
  error = m_options.report + ": " + std::strerror(why ? why : errno);
  return false;
}
