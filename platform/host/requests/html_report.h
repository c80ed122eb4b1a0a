// The digest as one self-contained HTML page: inline style, inline script (table sorting) and
// charts drawn as inline SVG, so that it opens from a file with no network access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "requests/request_digest.h"

struct ReportContext {
  std::vector<std::string> inputs;  // the captures read
  uint64_t connections = 0;         // TDS connections seen in them
};

// The page: an overview (time span, requests, errors, connections, users), the fingerprints
// (sortable by any column), a latency histogram, requests per second over time, the slowest
// requests with their statements, errors by number, connections, and the tables per user,
// application and client address. Elements that carry figures have ids (`ov-requests`, ...)
// and their rows `data-*` attributes, for tools that read the page.
std::string HtmlReport(const RequestDigest& digest, const ReportContext& context);
