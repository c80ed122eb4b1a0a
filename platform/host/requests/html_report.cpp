#include "requests/html_report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "requests/digest_render.h"
#include "requests/request_render.h"
#include "requests/sql_fingerprint.h"

namespace {

// Fingerprints listed in the page, the costliest first.
constexpr size_t kReportRows = 500;

void Escape(std::string& h, std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const size_t taken = AppendSpecialEscape(h, s.data() + i, s.size() - i);
    if (taken) {
      i += taken - 1;
      continue;
    }
    switch (c) {
      case '&':
        h += "&amp;";
        break;
      case '<':
        h += "&lt;";
        break;
      case '>':
        h += "&gt;";
        break;
      case '"':
        h += "&quot;";
        break;
      default:
        h += static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' ? ' ' : c;
    }
  }
}

std::string Esc(std::string_view s) {
  std::string h;
  Escape(h, s);
  return h;
}

std::string Ms(double us) {
  return MillisText(us);
}

std::string Num(uint64_t v) {
  return std::to_string(v);
}

const char kStyle[] = R"(<style>
body{font-family:system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em;border-bottom:1px solid #ccc}
table{border-collapse:collapse;font-size:.85em}th,td{padding:.2em .5em;border-bottom:1px solid #eee;vertical-align:top}
th{background:#f3f3f3;text-align:left;position:sticky;top:0}
table.sortable th{cursor:pointer}td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
code{font-family:ui-monospace,monospace;font-size:.95em;white-space:pre-wrap;word-break:break-all}
dl.ov{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}dl.ov dt{color:#555}dl.ov dd{margin:0;font-weight:600}
svg{background:#fafafa;border:1px solid #ddd}.bar{fill:#4a7fb5}.line{fill:none;stroke:#c0392b;stroke-width:1.5}
.axis{font-size:10px;fill:#444}.charts{display:flex;flex-wrap:wrap;gap:0 2em}
.charts svg{width:560px;height:auto}
</style>)";

const char kScript[] = R"(<script>
(function(){
function key(td){var v=td.getAttribute('data-v');return v===null?td.textContent:parseFloat(v);}
document.querySelectorAll('table.sortable').forEach(function(t){
  t.querySelectorAll('th').forEach(function(th,i){
    th.addEventListener('click',function(){
      var body=t.tBodies[0],rows=Array.prototype.slice.call(body.rows);
      var down=th.getAttribute('data-dir')!=='desc';
      rows.sort(function(a,b){var x=key(a.cells[i]),y=key(b.cells[i]);
        if(x<y)return down?1:-1;if(x>y)return down?-1:1;return 0;});
      rows.forEach(function(r){body.appendChild(r);});
      t.querySelectorAll('th').forEach(function(h){h.removeAttribute('data-dir');});
      th.setAttribute('data-dir',down?'desc':'asc');
    });
  });
});
document.body.setAttribute('data-ready','1');
})();
</script>)";

void Cell(std::string& h, const std::string& text, const char* cls = nullptr,
          const std::string* sortValue = nullptr) {
  h += "<td";
  if (cls) h += std::string(" class=\"") + cls + "\"";
  if (sortValue) h += " data-v=\"" + *sortValue + "\"";
  h += ">" + text + "</td>";
}

void NumCell(std::string& h, const std::string& text, const std::string& value) {
  Cell(h, text, "n", &value);
}

void FigureHeaders(std::string& h) {
  for (const char* c :
       {"count", "total ms", "mean ms", "p50 ms", "p95 ms", "p99 ms", "max ms", "rows", "errors"})
    h += std::string("<th>") + c + "</th>";
}

void FigureCells(std::string& h, const DigestFigures& f) {
  NumCell(h, Num(f.count), Num(f.count));
  NumCell(h, Ms(static_cast<double>(f.totalUs)), Num(static_cast<uint64_t>(f.totalUs)));
  const uint64_t answered = f.count - f.unanswered;
  const double mean = answered ? static_cast<double>(f.totalUs) / static_cast<double>(answered) : 0;
  for (double v : {mean, f.latency.Quantile(0.5), f.latency.Quantile(0.95),
                   f.latency.Quantile(0.99), static_cast<double>(f.latency.max())}) {
    const std::string text = answered ? Ms(v) : "-";
    NumCell(h, text, answered ? text : "-1");
  }
  NumCell(h, std::to_string(f.rows), std::to_string(f.rows));
  NumCell(h, f.failed ? Num(f.failed) : "-", Num(f.failed));
}

std::string Tally(const NameTally& t) {
  std::string s;
  for (size_t k = 0; k < t.kept.size(); ++k) {
    if (k) s += ", ";
    s += Esc(t.kept[k].first.empty() ? "-" : t.kept[k].first) + " (" + Num(t.kept[k].second) + ")";
  }
  if (t.others) s += ", others (" + Num(t.others) + ")";
  return s;
}

void Overview(std::string& h, const RequestDigest& d, const ReportContext& c) {
  const DigestFigures& all = d.all();
  auto item = [&h](const char* id, const char* label, const std::string& value) {
    h += std::string("<dt>") + label + "</dt><dd id=\"" + id + "\">" + value + "</dd>\n";
  };
  h += "<section id=\"overview\"><h2>Overview</h2><dl class=\"ov\">\n";
  std::string inputs;
  for (size_t k = 0; k < c.inputs.size(); ++k) inputs += (k ? ", " : "") + Esc(c.inputs[k]);
  item("ov-inputs", "captures", inputs.empty() ? "-" : inputs);
  item("ov-first", "first request", all.count ? IsoTime(all.firstUs) : "-");
  item("ov-last", "last request", all.count ? IsoTime(all.lastUs) : "-");
  char span[64];
  std::snprintf(span, sizeof(span), "%.3f s",
                all.count ? static_cast<double>(all.lastUs - all.firstUs) / 1e6 : 0.0);
  item("ov-span", "time span", span);
  item("ov-requests", "requests", Num(all.count));
  item("ov-answered", "answered", Num(all.count - all.unanswered));
  item("ov-errors", "requests with errors", Num(all.failed));
  item("ov-total", "time in requests (ms)", Ms(static_cast<double>(all.totalUs)));
  item("ov-fingerprints", "fingerprints", Num(d.fingerprintCount()));
  item("ov-connections", "TDS connections", Num(c.connections));
  size_t users = 0;
  for (const GroupEntry* g : d.Groups(RequestDigest::kUsers))
    users += !g->other && !g->name.empty();
  item("ov-users", "users", Num(users));
  h += "</dl></section>\n";
}

void DigestTable(std::string& h, const RequestDigest& d) {
  h += "<section><h2>Statements by total time</h2>\n<table id=\"digest\" class=\"sortable\">"
       "<thead><tr><th>rank</th>";
  FigureHeaders(h);
  h += "<th>fingerprint</th><th>users</th><th>example (slowest)</th></tr></thead><tbody>\n";
  const std::vector<const FingerprintEntry*> ranked = d.Fingerprints();
  const size_t shown = std::min(ranked.size(), kReportRows);
  for (size_t i = 0; i < shown; ++i) {
    const FingerprintEntry& e = *ranked[i];
    const std::string id = e.other ? std::string() : FingerprintIdText(e.id);
    h += "<tr data-id=\"" + id + "\">";
    NumCell(h, Num(i + 1), Num(i + 1));
    FigureCells(h, e.figures);
    Cell(h, "<code title=\"" + id + "\">" + Esc(e.fingerprint) + "</code>");
    Cell(h, Tally(e.users));
    std::string example = "<code>" + Esc(e.example.text) + "</code>";
    if (e.example.durationUs >= 0)
      example += " <small>(" + Ms(static_cast<double>(e.example.durationUs)) + " ms, conn " +
                 Num(e.example.conn) + ")</small>";
    Cell(h, example);
    h += "</tr>\n";
  }
  h += "</tbody></table>\n";
  if (shown < ranked.size())
    h += "<p id=\"digest-more\">The " + Num(shown) + " costliest of " + Num(ranked.size()) +
         " fingerprints are listed; <code>--digest -o json</code> gives them all.</p>\n";
  h += "</section>\n";
}

void LatencyChart(std::string& h, const RequestDigest& d) {
  const LatencyHistogram& l = d.all().latency;
  h += "<section><h2>Latency</h2>\n";
  if (l.count() == 0) {
    h += "<p id=\"latency-none\">No request has a duration.</p></section>\n";
    return;
  }
  const std::vector<uint32_t>& counts = l.counts();
  const size_t group = (counts.size() + 59) / 60;
  std::vector<uint64_t> bars((counts.size() + group - 1) / group, 0);
  for (size_t k = 0; k < counts.size(); ++k) bars[k / group] += counts[k];
  const uint64_t top = *std::max_element(bars.begin(), bars.end());
  const int w = 800, ht = 220, left = 50, bottom = 30;
  const double bw = static_cast<double>(w - left - 10) / static_cast<double>(bars.size());
  char buf[512];
  std::snprintf(buf, sizeof(buf),
                "<svg id=\"latency-chart\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "role=\"img\" aria-label=\"latency histogram\">\n",
                w, ht, w, ht);
  h += buf;
  for (size_t b = 0; b < bars.size(); ++b) {
    const int first = l.firstBucket() + static_cast<int>(b * group);
    const int last = std::min(first + static_cast<int>(group) - 1,
                              l.firstBucket() + static_cast<int>(counts.size()) - 1);
    const double bh = static_cast<double>(ht - bottom - 10) * static_cast<double>(bars[b]) /
                      static_cast<double>(top);
    std::snprintf(buf, sizeof(buf),
                  "<rect class=\"bar\" data-count=\"%llu\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                  "height=\"%.1f\"><title>%s to %s ms: %llu</title></rect>\n",
                  static_cast<unsigned long long>(bars[b]), left + bw * static_cast<double>(b),
                  ht - bottom - bh, bw > 2 ? bw - 1 : bw, bh,
                  Ms(LatencyHistogram::BucketValue(first)).c_str(),
                  Ms(LatencyHistogram::BucketValue(last)).c_str(),
                  static_cast<unsigned long long>(bars[b]));
    h += buf;
  }
  std::snprintf(buf, sizeof(buf),
                "<text class=\"axis\" x=\"%d\" y=\"%d\">%s ms</text>"
                "<text class=\"axis\" x=\"%d\" y=\"%d\" text-anchor=\"end\">%s ms</text>"
                "<text class=\"axis\" x=\"%d\" y=\"12\" text-anchor=\"end\">%llu</text>"
                "<text class=\"axis\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">duration "
                "(logarithmic), requests per bar</text></svg>\n",
                left, ht - bottom + 14, Ms(static_cast<double>(l.min())).c_str(), w - 10,
                ht - bottom + 14, Ms(static_cast<double>(l.max())).c_str(), left - 4,
                static_cast<unsigned long long>(top), w / 2, ht - 4);
  h += buf;
  h += "<p>p50 <b id=\"lat-p50\">" + Ms(l.Quantile(0.5)) + "</b> ms, p95 <b id=\"lat-p95\">" +
       Ms(l.Quantile(0.95)) + "</b> ms, p99 <b id=\"lat-p99\">" + Ms(l.Quantile(0.99)) +
       "</b> ms, max <b id=\"lat-max\">" + Ms(static_cast<double>(l.max())) +
       "</b> ms (percentiles within 1 %).</p></section>\n";
}

void RateChart(std::string& h, const RequestDigest& d) {
  const RateSeries& rate = d.rate();
  h += "<section><h2>Requests per second</h2>\n";
  if (rate.empty()) {
    h += "<p id=\"rate-none\">No requests.</p></section>\n";
    return;
  }
  const auto& buckets = rate.buckets();
  const double seconds = static_cast<double>(rate.widthUs()) / 1e6;
  double top = 0;
  for (const auto& b : buckets) top = std::max(top, static_cast<double>(b.requests) / seconds);
  const int w = 800, ht = 220, left = 50, bottom = 30;
  char buf[512];
  std::snprintf(buf, sizeof(buf),
                "<svg id=\"rate-chart\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "role=\"img\" aria-label=\"requests per second\" data-points=\"%zu\" "
                "data-interval-s=\"%g\">\n<polyline class=\"line\" points=\"",
                w, ht, w, ht, buckets.size(), seconds);
  h += buf;
  const size_t n = buckets.size();
  for (size_t k = 0; k < n; ++k) {
    const double x = left + (n == 1 ? 0.0
                                    : static_cast<double>(w - left - 10) * static_cast<double>(k) /
                                          static_cast<double>(n - 1));
    const double y = ht - bottom -
                     static_cast<double>(ht - bottom - 10) *
                         (static_cast<double>(buckets[k].requests) / seconds) / top;
    std::snprintf(buf, sizeof(buf), "%s%.1f,%.1f", k ? " " : "", x, y);
    h += buf;
  }
  h += "\"/>\n";
  if (n == 1) {
    std::snprintf(buf, sizeof(buf), "<circle cx=\"%d\" cy=\"%d\" r=\"3\" fill=\"#c0392b\"/>", left,
                  10);
    h += buf;
  }
  std::snprintf(buf, sizeof(buf),
                "<text class=\"axis\" x=\"%d\" y=\"%d\">%s</text>"
                "<text class=\"axis\" x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>"
                "<text class=\"axis\" x=\"%d\" y=\"12\" text-anchor=\"end\">%.1f/s</text>"
                "</svg>\n",
                left, ht - bottom + 14, IsoTime(rate.startUs()).c_str(), w - 10, ht - bottom + 14,
                IsoTime(rate.startUs() + static_cast<int64_t>(n) * rate.widthUs()).c_str(),
                left - 4, top);
  h += buf;
  std::snprintf(buf, sizeof(buf),
                "<p>Intervals of %g s; peak <b id=\"rate-peak\">%.1f</b> requests per "
                "second.</p></section>\n",
                seconds, top);
  h += buf;
}

void Slowest(std::string& h, const RequestDigest& d) {
  h += "<section><h2>Slowest requests</h2>\n<table id=\"slowest\" class=\"sortable\"><thead><tr>"
       "<th>duration ms</th><th>time</th><th>conn</th><th>user</th><th>kind</th>"
       "<th>statement</th></tr></thead><tbody>\n";
  for (const ExampleRequest& s : d.slowest()) {
    h += "<tr>";
    NumCell(h, Ms(static_cast<double>(s.durationUs)), Num(static_cast<uint64_t>(s.durationUs)));
    Cell(h, IsoTime(s.timeUs));
    NumCell(h, Num(s.conn), Num(s.conn));
    Cell(h, Esc(s.user));
    Cell(h, RequestKindName(s.kind));
    Cell(h, "<code>" + Esc(s.text) + "</code>");
    h += "</tr>\n";
  }
  h += "</tbody></table></section>\n";
}

void Errors(std::string& h, const RequestDigest& d) {
  h += "<section><h2>Errors</h2>\n";
  const std::vector<const ErrorEntry*> errors = d.Errors();
  if (errors.empty()) {
    h += "<p id=\"errors-none\">No errors.</p></section>\n";
    return;
  }
  h += "<table id=\"errors\" class=\"sortable\"><thead><tr><th>number</th><th>class</th>"
       "<th>count</th><th>text</th><th>first in</th></tr></thead><tbody>\n";
  for (const ErrorEntry* e : errors) {
    h += "<tr>";
    NumCell(h, std::to_string(e->number), std::to_string(e->number));
    NumCell(h, std::to_string(e->severity), std::to_string(e->severity));
    NumCell(h, Num(e->count), Num(e->count));
    Cell(h, Esc(e->text));
    Cell(h, "<code>" + FingerprintIdText(e->fingerprintId) + "</code>");
    h += "</tr>\n";
  }
  h += "</tbody></table></section>\n";
}

void Connections(std::string& h, const RequestDigest& d) {
  h += "<section><h2>Connections</h2>\n<table id=\"connections\" class=\"sortable\"><thead><tr>"
       "<th>conn</th><th>client</th><th>server</th><th>user</th><th>application</th>";
  FigureHeaders(h);
  h += "<th>first</th><th>last</th></tr></thead><tbody>\n";
  for (const ConnectionEntry& c : d.connections()) {
    h += "<tr>";
    NumCell(h, Num(c.conn), Num(c.conn));
    Cell(h, Esc(c.client));
    Cell(h, Esc(c.server));
    Cell(h, Esc(c.user));
    Cell(h, Esc(c.application));
    FigureCells(h, c.figures);
    Cell(h, IsoTime(c.figures.firstUs));
    Cell(h, IsoTime(c.figures.lastUs));
    h += "</tr>\n";
  }
  h += "</tbody></table>\n";
  if (d.otherConnectionRequests())
    h += "<p>" + Num(d.otherConnectionRequests()) + " requests of connections past the first " +
         Num(RequestDigest::kMaxConnections) + " are not listed.</p>\n";
  h += "</section>\n";
}

void GroupTable(std::string& h, const RequestDigest& d, RequestDigest::Group g, const char* id,
                const char* title) {
  h += std::string("<section><h2>") + title + "</h2>\n<table id=\"" + id +
       "\" class=\"sortable\"><thead><tr><th>name</th>";
  FigureHeaders(h);
  h += "</tr></thead><tbody>\n";
  for (const GroupEntry* e : d.Groups(g)) {
    h += "<tr>";
    Cell(h, Esc(e->name.empty() ? "-" : e->name));
    FigureCells(h, e->figures);
    h += "</tr>\n";
  }
  h += "</tbody></table></section>\n";
}

}  // namespace

std::string HtmlReport(const RequestDigest& d, const ReportContext& c) {
  std::string h;
  h.reserve(64 * 1024);
  h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       "<title>TDS request report</title>\n";
  h += kStyle;
  h += "</head><body>\n<h1>TDS request report</h1>\n";
  Overview(h, d, c);
  h += "<div class=\"charts\">\n";
  LatencyChart(h, d);
  RateChart(h, d);
  h += "</div>\n";
  DigestTable(h, d);
  Slowest(h, d);
  Errors(h, d);
  Connections(h, d);
  GroupTable(h, d, RequestDigest::kUsers, "users", "Per user");
  GroupTable(h, d, RequestDigest::kApplications, "applications", "Per application");
  GroupTable(h, d, RequestDigest::kClients, "clients", "Per client address");
  h += "<p><small>Written by tdsdecode. Percentiles are read from a histogram with a relative "
       "error under 1 %.</small></p>\n";
  h += kScript;
  h += "</body></html>\n";
  return h;
}
