// The digest end to end, on a capture made here with known timings: figures per fingerprint
// (count, total, percentiles, rows, errors, clients), the ranking, errors by number, the
// fingerprints of the request log, --slow, --since and --until, the fingerprint ceiling, and
// the HTML report's sections.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "pcap_builder.h"

using nlohmann::json;
using namespace pcapbuild;

namespace {

Bytes Packet(uint8_t type, const Bytes& data) {
  Bytes p = {type, 1};
  Put16(p, static_cast<uint32_t>(8 + data.size()));
  p.insert(p.end(), {0, 0, 0, 0});
  return Cat({p, data});
}

// LANGUAGE, least significant byte first.
Bytes Language(const std::string& text) {
  Bytes t = {0x21};
  PutLe32(t, static_cast<uint32_t>(text.size() + 1));
  t.push_back(0);
  t.insert(t.end(), text.begin(), text.end());
  return Packet(15, t);
}

// The answer: an EED of class 16 when `error` is not 0, then DONE with a count of `rows`.
Bytes Answer(uint32_t rows, uint32_t error = 0) {
  Bytes data;
  if (error) {
    const std::string text = "error " + std::to_string(error);
    Bytes e;
    PutLe32(e, error);
    e.insert(e.end(), {1, 16, 5, 'Z', 'Z', 'Z', 'Z', 'Z', 0, 0, 0});
    e.push_back(static_cast<uint8_t>(text.size()));
    e.push_back(0);
    e.insert(e.end(), text.begin(), text.end());
    e.insert(e.end(), {0, 0, 1, 0});
    data = {0xE5, static_cast<uint8_t>(e.size()), 0};
    data.insert(data.end(), e.begin(), e.end());
  }
  const Bytes done = {0xFD, static_cast<uint8_t>(error ? 0x12 : 0x10), 0, 0, 0};
  data.insert(data.end(), done.begin(), done.end());
  PutLe32(data, rows);
  return Packet(4, data);
}

struct Timed {
  const char* text;
  uint32_t micros;  // duration
  uint32_t rows;
  uint32_t error;
};

const uint32_t kStart = 1700000000;

// One connection; request k is sent at kStart + k seconds.
std::string MakeCapture(const std::vector<Timed>& requests, const char* name) {
  Flow flow;
  Pcap pcap;
  pcap.RecordAt(kStart, 0, flow.Segment(true, SYN));
  pcap.RecordAt(kStart, 10, flow.Segment(false, SYN | ACK));
  uint32_t second = kStart;
  for (const Timed& r : requests) {
    ++second;
    pcap.RecordAt(second, 0, flow.Segment(true, ACK, Language(r.text)));
    pcap.RecordAt(second + r.micros / 1000000, r.micros % 1000000,
                  flow.Segment(false, ACK, Answer(r.rows, r.error)));
  }
  return pcap.Write(name);
}

const std::vector<Timed> kRequests = {
    {"select * from t where id = 1", 1000, 1, 0},
    {"delete from u where k in (1, 2, 3)", 10000, 3, 2601},
    {"select * from t where id = 2", 3000, 1, 0},
    {"SELECT *  FROM t WHERE id = 30 -- the third", 2000, 1, 0},
    {"select * from nosuch", 500, 0, 208},
};

json Digest(const std::string& path, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--digest", "-o", "json", path};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult r = RunTdsdecode(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.frames.size(), 1u) << r.out.substr(0, 2000);
  return r.frames.empty() ? json() : r.frames[0];
}

void ExpectNear(const json& v, double want) {
  ASSERT_TRUE(v.is_number()) << v;
  EXPECT_NEAR(v.get<double>(), want, want * 0.01) << v;
}

TEST(Digest, FiguresPerFingerprintOnKnownTimings) {
  const std::string path = MakeCapture(kRequests, "digest-timed.pcap");
  const json d = Digest(path);
  EXPECT_EQ(d["requests"], 5);
  EXPECT_EQ(d["with_errors"], 2);
  EXPECT_EQ(d["rows"], 6);
  EXPECT_EQ(d["total_ms"], 16.5);
  EXPECT_EQ(d["first_time"], "2023-11-14T22:13:21.000000Z");
  EXPECT_EQ(d["fingerprint_count"], 3);
  const json& f = d["fingerprints"];
  ASSERT_EQ(f.size(), 3u);
  // Ranked by total time: the delete (10 ms), the three selects (6 ms), the failing select.
  EXPECT_EQ(f[0]["fingerprint"], "delete from u where k in (?+)");
  EXPECT_EQ(f[0]["errors"], json::parse(R"([{"number": 2601, "count": 1}])"));
  const json& s = f[1];
  EXPECT_EQ(s["fingerprint"], "select * from t where id = ?");
  EXPECT_EQ(s["count"], 3);
  EXPECT_EQ(s["total_ms"], 6.0);
  EXPECT_EQ(s["mean_ms"], 2.0);
  ExpectNear(s["p50_ms"], 2.0);
  EXPECT_EQ(s["p95_ms"], 3.0);  // the largest: exact
  EXPECT_EQ(s["max_ms"], 3.0);
  EXPECT_EQ(s["rows"], 3);
  EXPECT_EQ(s["with_errors"], 0);
  EXPECT_EQ(s["first_seen"], "2023-11-14T22:13:21.000000Z");
  EXPECT_EQ(s["last_seen"], "2023-11-14T22:13:24.000000Z");
  EXPECT_EQ(s["clients"], json::parse(R"([{"name": "10.1.1.1", "count": 3}])"));
  EXPECT_EQ(s["example"]["text"], "select * from t where id = 2");  // the slowest
  EXPECT_EQ(s["example"]["duration_ms"], 3.0);
  EXPECT_EQ(f[2]["fingerprint"], "select * from nosuch");
  EXPECT_EQ(f[2]["with_errors"], 1);

  EXPECT_EQ(d["errors"], json::parse(R"([
      {"number": 208, "class": 16, "count": 1, "text": "error 208", "fingerprint_id": ")" +
                                     f[2]["fingerprint_id"].get<std::string>() + R"("},
      {"number": 2601, "class": 16, "count": 1, "text": "error 2601", "fingerprint_id": ")" +
                                     f[0]["fingerprint_id"].get<std::string>() + R"("}])"));
  ASSERT_EQ(d["clients"].size(), 1u);
  EXPECT_EQ(d["clients"][0]["count"], 5);
  EXPECT_EQ(d["per_second"]["interval_s"], 1);
  EXPECT_EQ(d["per_second"]["requests"], json::parse("[1, 1, 1, 1, 1]"));
  EXPECT_EQ(d["per_second"]["errors"], json::parse("[0, 1, 0, 0, 1]"));

  // The request log carries the same fingerprints.
  const RunResult log = RunTdsdecode({"--requests", "-o", "json", path});
  ASSERT_EQ(log.frames.size(), 5u);
  EXPECT_EQ(log.frames[3]["fingerprint"], s["fingerprint"]);
  EXPECT_EQ(log.frames[3]["fingerprint_id"], s["fingerprint_id"]);

  // --slow keeps the requests slower than 2.5 ms; --since and --until select a window.
  const json slow = Digest(path, {"--slow", "2.5"});
  EXPECT_EQ(slow["requests"], 2);
  EXPECT_EQ(slow["total_ms"], 13.0);
  const json window =
      Digest(path, {"--since", "2023-11-14T22:13:22Z", "--until", "2023-11-14 22:13:24"});
  EXPECT_EQ(window["requests"], 2);
  EXPECT_EQ(window["fingerprint_count"], 2);
  const RunResult slowLog = RunTdsdecode({"--requests", "-o", "json", "--slow", "5", path});
  ASSERT_EQ(slowLog.frames.size(), 1u);
  EXPECT_EQ(slowLog.frames[0]["errors"][0]["number"], 2601);

  const RunResult bad = RunTdsdecode({"--digest", "--since", "yesterday", path});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("--since: bad time 'yesterday'"), std::string::npos) << bad.err;
  std::remove(path.c_str());
}

TEST(Digest, FingerprintsPastTheCeilingShareOneEntry) {
  std::vector<std::string> texts;
  for (int k = 0; k < 5003; ++k) texts.push_back("select * from t" + std::to_string(k));
  std::vector<Timed> requests;
  for (const std::string& t : texts) requests.push_back({t.c_str(), 100, 0, 0});
  const std::string path = MakeCapture(requests, "digest-many.pcap");
  const json d = Digest(path);
  std::remove(path.c_str());
  EXPECT_EQ(d["requests"], 5003);
  EXPECT_EQ(d["fingerprint_count"], 5001);
  const json& last = d["fingerprints"].back();
  EXPECT_EQ(last["fingerprint"], nullptr);
  EXPECT_EQ(last["count"], 3);
}

TEST(Digest, ReportHasEverySection) {
  const std::string path = MakeCapture(kRequests, "digest-report.pcap");
  const std::string report = path + ".html";
  const RunResult r = RunTdsdecode({"--report", report, path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(report);
  std::stringstream page;
  page << in.rdbuf();
  const std::string html = page.str();
  for (const char* part :
       {"<dd id=\"ov-requests\">5</dd>", "<dd id=\"ov-errors\">2</dd>", "id=\"digest\"",
        "<rect class=\"bar\"", "<polyline class=\"line\"", "id=\"slowest\"", "id=\"errors\"",
        "id=\"connections\"", "delete from u where k in (?+)"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
  // Nothing is fetched: no external reference of any kind.
  for (const char* external : {"http:", "https:", "src=", "@import", "url("})
    EXPECT_EQ(html.find(external), std::string::npos) << external;
  std::remove(report.c_str());

  const RunResult unwritable = RunTdsdecode({"--report", "/nonexistent/dir/r.html", path});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_NE(unwritable.err.find("/nonexistent/dir/r.html: No such file or directory"),
            std::string::npos);
  std::remove(path.c_str());
}

}  // namespace
