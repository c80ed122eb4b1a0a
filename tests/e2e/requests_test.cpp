// The request log end to end: `tdsdecode --requests` on the real captures (kinds, texts, rows,
// return statuses, errors and messages, cancelled requests, a refused login, several
// connections), on captures made here with known timestamps, and on a capture cut in the middle
// of an answer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pcap_builder.h"
#include "tdsdecode_runner.h"

using nlohmann::json;

namespace {

std::string Capture(const char* file) {
  return TestData(std::string("captures/") + file);
}

std::vector<json> Requests(const std::string& path, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"--requests", "-o", "json", path};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult r = RunTdsdecode(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.frames;
}

std::vector<std::string> Kinds(const std::vector<json>& requests) {
  std::vector<std::string> out;
  for (const json& r : requests) out.push_back(r["kind"]);
  return out;
}

std::vector<int> ErrorNumbers(const json& request) {
  std::vector<int> out;
  for (const json& e : request["errors"]) out.push_back(e["number"]);
  return out;
}

// A classic pcap file whose records carry the given times.
class TimedPcap {
 public:
  TimedPcap() {
    pcapbuild::PutLe32(m_data, 0xa1b2c3d4);
    m_data.insert(m_data.end(), {2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    pcapbuild::PutLe32(m_data, 262144);
    pcapbuild::PutLe32(m_data, 1);  // Ethernet
  }
  void Record(uint32_t seconds, uint32_t micros, const pcapbuild::Bytes& frame) {
    pcapbuild::PutLe32(m_data, seconds);
    pcapbuild::PutLe32(m_data, micros);
    pcapbuild::PutLe32(m_data, static_cast<uint32_t>(frame.size()));
    pcapbuild::PutLe32(m_data, static_cast<uint32_t>(frame.size()));
    m_data.insert(m_data.end(), frame.begin(), frame.end());
  }
  std::string Write(const std::string& name) const {
    const std::string path = "/tmp/tdsdecode_requests_" + name + ".pcap";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(m_data.data()), static_cast<long>(m_data.size()));
    return path;
  }

 private:
  pcapbuild::Bytes m_data;
};

// A type-15 packet holding a LANGUAGE token (little-endian length, status 0, the text).
pcapbuild::Bytes LanguagePacket(const std::string& text) {
  pcapbuild::Bytes token = {0x21};
  pcapbuild::PutLe32(token, static_cast<uint32_t>(text.size() + 1));
  token.push_back(0);
  token.insert(token.end(), text.begin(), text.end());
  pcapbuild::Bytes p = {15, 1};
  pcapbuild::Put16(p, static_cast<uint32_t>(8 + token.size()));
  p.insert(p.end(), {0, 0, 0, 0});
  return pcapbuild::Cat({p, token});
}

// A type-4 packet holding DONE with a valid count of `rows` (without a login the connection's
// integers are most significant byte first).
pcapbuild::Bytes DonePacket(uint32_t rows) {
  pcapbuild::Bytes p = pcapbuild::Hex("04 01 0011 0000 0000  fd 0010 0000");
  pcapbuild::Put32(p, rows);
  return p;
}

TEST(Requests, LanguageCommandsOfARealClient) {
  const std::vector<json> r = Requests(Capture("tsql-language.pcap"));
  ASSERT_EQ(r.size(), 16u);
  EXPECT_EQ(r.front()["kind"], "login");
  EXPECT_EQ(r.back()["kind"], "logout");
  const struct {
    size_t index;
    const char* text;
    int rows;
  } expected[] = {
      {1, "set textsize 64512 select @@spid ", 1},
      {2, "select * from t\n", 5},
      {4,
       "select dept, name, salary from emp order by dept compute sum(salary), max(salary) by "
       "dept compute count(salary)\n",
       5},
      {5, "select * from t where id > 1000 order by id\n", 5},
      {6, "select * from nosuchtable\n", 0},
      {9, "select info\n", 3},
      {10, "select 1 where 0=1\n", 0},
      {11, "exec sp_who\n", 2},
      {13, "select @@version\n", 1},
      {14, "select db_name(); select @@servername\n", 2},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.text);
    EXPECT_EQ(r[e.index]["kind"], "language");
    EXPECT_EQ(r[e.index]["text"], e.text);
    EXPECT_EQ(r[e.index]["rows"], e.rows);
  }
  // The error 208 and the syntax error (an EED of class 15) are errors; the print is a message.
  EXPECT_EQ(ErrorNumbers(r[6]), std::vector<int>{208});
  EXPECT_EQ(r[6]["errors"][0]["class"], 16);
  EXPECT_EQ(r[6]["status"], json::parse(R"(["error"])"));
  EXPECT_EQ(ErrorNumbers(r[7]), std::vector<int>{102});
  EXPECT_EQ(r[8]["text"], "print 'hello from the capture'\n");
  EXPECT_TRUE(r[8]["errors"].empty());
  ASSERT_EQ(r[8]["messages"].size(), 1u);
  EXPECT_EQ(r[8]["messages"][0]["text"], "hello from the capture");
  EXPECT_EQ(r[9]["messages"][0]["text"], "This is an INFO message from the fake server.");
  EXPECT_EQ(r[11]["return_status"], 0);
  EXPECT_EQ(r[12]["messages"][0]["number"], 5701);
  // The result set of a select: its columns from the row format.
  ASSERT_EQ(r[2]["results"].size(), 1u);
  EXPECT_EQ(r[2]["results"][0]["columns"].size(), 20u);
  EXPECT_EQ(r[2]["results"][0]["columns"][0], json::parse(R"({"name": "id", "type": "int4"})"));
  EXPECT_EQ(r[2]["results"][0]["rows"], 5);
  // The two statements of a batch: two result sets, one count each.
  EXPECT_EQ(r[14]["results"].size(), 2u);
  // Text and image columns end the walk; the request still says so.
  EXPECT_EQ(r[3]["text"], "select * from textdemo\n");
  EXPECT_NE(r[3]["note"], nullptr);
  for (const json& q : r) {
    EXPECT_EQ(q["conn"], 1);
    EXPECT_EQ(q["user"], "sa");
    EXPECT_EQ(q["application"], "TSQL");
    EXPECT_EQ(q["server"], "127.0.0.1:5000");
    EXPECT_EQ(q["unanswered"], false);
    EXPECT_EQ(q["cancelled"], false);
  }
  EXPECT_EQ(r[0]["login"]["accepted"], true);
  EXPECT_EQ(r[0]["login"]["packet_size"], "512");
  EXPECT_EQ(r[0]["login"]["byte_order"], "little-endian");
}

TEST(Requests, RemoteProcedureCalls) {
  const std::vector<json> r = Requests(Capture("ctlib-rpc.pcap"));
  EXPECT_EQ(Kinds(r), (std::vector<std::string>{"login", "language", "dbrpc", "dbrpc", "dbrpc",
                                                "language", "logout"}));
  EXPECT_EQ(r[2]["name"], "sp_capture_rpc");
  EXPECT_EQ(r[2]["params"]["count"], 15);
  EXPECT_EQ(r[2]["params"]["values"][0]["name"], "@id");
  EXPECT_EQ(r[2]["params"]["values"][4], json::parse(R"({"name": "@flag", "type": "bit",
                                                         "output": false, "value": 1})"));
  EXPECT_EQ(r[2]["params"]["values"][8]["value"], nullptr);  // the NULL int
  EXPECT_EQ(r[2]["params"]["values"][9]["output"], true);
  EXPECT_EQ(r[2]["return_status"], 0);
  EXPECT_EQ(r[2]["rows"], 15);
  ASSERT_EQ(r[2]["output"].size(), 6u);
  EXPECT_EQ(r[2]["output"][0]["name"], "@total");
  EXPECT_EQ(r[2]["output"][1], json::parse(R"({"name": "@label", "type": "varchar",
                                               "value": "6f75743a6e6f6e65"})"));  // "out:none"
  EXPECT_EQ(r[3]["name"], "sp_fail_status");
  EXPECT_EQ(r[3]["return_status"], -6);
  EXPECT_EQ(r[4]["name"], "sp_err_missing");
  EXPECT_EQ(r[4]["params"]["count"], 1);
  EXPECT_EQ(ErrorNumbers(r[4]), std::vector<int>{2812});
  EXPECT_EQ(r[4]["status"], json::parse(R"(["error"])"));
  EXPECT_EQ(r[4]["return_status"], nullptr);
}

TEST(Requests, DynamicStatementsAndCursors) {
  std::vector<json> r = Requests(Capture("ctlib-dynamic.pcap"));
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[2]["kind"], "dynamic");
  EXPECT_EQ(r[2]["name"], "capdyn1");
  EXPECT_EQ(r[2]["text"],
            "prepare capdyn1: create proc capdyn1 as select * from t where id = ? and name = ?");
  for (size_t i : {3u, 4u}) {
    EXPECT_EQ(r[i]["text"], "execute capdyn1");
    EXPECT_EQ(r[i]["params"]["count"], 2);
    EXPECT_EQ(r[i]["rows"], 3);
  }
  EXPECT_EQ(r[4]["params"]["values"][1]["value"], nullptr);  // the execute with a NULL
  // The second execute's row format repeats the first's and is shown the same.
  EXPECT_EQ(r[4]["results"], r[3]["results"]);
  EXPECT_EQ(r[4]["results"][0]["columns"].size(), 20u);
  EXPECT_EQ(r[5]["text"], "deallocate capdyn1");

  r = Requests(Capture("ctlib-cursor.pcap"));
  ASSERT_EQ(r.size(), 26u);
  EXPECT_EQ(r[2]["kind"], "cursor-declare");
  EXPECT_EQ(r[2]["text"], "capcur1: select * from t");
  std::vector<int> fetched;
  for (size_t i = 3; i < 7; ++i) {
    EXPECT_EQ(r[i]["kind"], "cursor-fetch");
    EXPECT_EQ(r[i]["text"], "capcur1 next");
    fetched.push_back(r[i]["rows"]);
  }
  EXPECT_EQ(fetched, (std::vector<int>{4, 4, 4, 0}));
  EXPECT_EQ(r[7]["text"], "capcur1 deallocate");
  EXPECT_EQ(r[8]["text"], "capcur2: select id, name from t where id > 1000 for update");
  EXPECT_EQ(r[9]["kind"], "cursor-open");
  for (size_t i = 10; i < 23; ++i) EXPECT_EQ(r[i]["rows"], i < 22 ? 1 : 0) << i;
  EXPECT_EQ(r[23]["kind"], "cursor-close");
  EXPECT_EQ(r[24]["text"], "capcur2 deallocate");
}

TEST(Requests, AttentionsAndARefusedLogin) {
  std::vector<json> r = Requests(Capture("ctlib-cancel.pcap"));
  EXPECT_EQ(Kinds(r),
            (std::vector<std::string>{"login", "language", "language", "attention", "language",
                                      "language", "attention", "language", "logout"}));
  EXPECT_EQ(r[2]["text"], "waitfor delay '00:00:02'");
  EXPECT_EQ(r[2]["cancelled"], true);
  EXPECT_EQ(r[5]["text"], "select * from bigtable");
  EXPECT_EQ(r[5]["cancelled"], true);
  EXPECT_EQ(r[5]["rows"], 300);
  int cancelled = 0;
  for (const json& q : r) cancelled += q["cancelled"].get<bool>();
  EXPECT_EQ(cancelled, 2);
  // The attention is acknowledged by the DONE with the attention bit; the retransmitted copy
  // of its packet is not a second attention.
  EXPECT_EQ(r[3]["status"], json::parse(R"(["attention"])"));
  EXPECT_EQ(r[3]["frame"], 11);
  EXPECT_EQ(r[3]["end_frame"], 15);
  EXPECT_GT(r[2]["duration_ms"].get<double>(), 2000.0);

  r = Requests(Capture("tsql-loginfail.pcap"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]["kind"], "login");
  EXPECT_EQ(r[0]["login"]["accepted"], false);
  EXPECT_EQ(r[0]["login"]["user"], "baduser");
  EXPECT_EQ(ErrorNumbers(r[0]), std::vector<int>{4002});
  EXPECT_EQ(r[1]["kind"], "logout");
  EXPECT_EQ(r[1]["user"], "baduser");
}

TEST(Requests, EachConnectionWithItsOwnLogin) {
  const std::vector<json> r = Requests(Capture("tsql-multiconn.pcap"));
  ASSERT_EQ(r.size(), 12u);
  std::vector<std::string> clients;
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i]["conn"], i / 4 + 1);
    EXPECT_EQ(r[i]["kind"],
              (std::vector<std::string>{"login", "language", "language", "logout"}[i % 4]));
    EXPECT_EQ(r[i]["user"], "sa");
    EXPECT_EQ(r[i]["host"], "vm");
    if (i % 4 == 0) clients.push_back(r[i]["client"]);
    EXPECT_EQ(r[i]["client"], clients.back());
  }
  EXPECT_EQ(clients,
            (std::vector<std::string>{"127.0.0.1:46486", "127.0.0.1:46490", "127.0.0.1:46506"}));
}

TEST(Requests, TimesAndDurationsFromTheCapture) {
  pcapbuild::Flow flow;
  TimedPcap pcap;
  const uint32_t t0 = 1700000000;
  pcap.Record(t0, 0, flow.Segment(true, pcapbuild::SYN));
  pcap.Record(t0, 10, flow.Segment(false, pcapbuild::SYN | pcapbuild::ACK));
  // A request whose packet spans two segments: its time is that of its first byte.
  const pcapbuild::Bytes first = LanguagePacket("select 1");
  pcap.Record(t0, 123456, flow.Segment(true, pcapbuild::ACK, pcapbuild::Slice(first, 0, 10)));
  pcap.Record(t0, 124000,
              flow.Segment(true, pcapbuild::ACK, pcapbuild::Slice(first, 10, first.size())));
  pcap.Record(t0, 373956, flow.Segment(false, pcapbuild::ACK, DonePacket(1)));
  // A second request answered a second and a quarter later.
  pcap.Record(t0 + 1, 0, flow.Segment(true, pcapbuild::ACK, LanguagePacket("select 2")));
  pcap.Record(t0 + 2, 250000, flow.Segment(false, pcapbuild::ACK, DonePacket(7)));
  const std::vector<json> r = Requests(pcap.Write("timed"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]["time"], "2023-11-14T22:13:20.123456Z");
  EXPECT_EQ(r[0]["frame"], 3);
  EXPECT_EQ(r[0]["duration_ms"], 250.5);
  EXPECT_EQ(r[0]["rows"], 1);
  EXPECT_EQ(r[0]["client"], "10.1.1.1:33000");
  EXPECT_EQ(r[0]["server"], "10.2.2.2:5000");
  EXPECT_EQ(r[1]["time"], "2023-11-14T22:13:21.000000Z");
  EXPECT_EQ(r[1]["duration_ms"], 1250.0);
  EXPECT_EQ(r[1]["rows"], 7);

  // Hex input has a clock of its own: frame N at N milliseconds.
  const RunResult hex = RunTdsdecode(
      {"--requests", "-o", "json", "--hex", "-"},
      "# LANGUAGE \"select 1\" (little-endian length 9, status 0)\n"
      "c 0f01 0016 0000 0000  21 09000000 00 73656c6563742031\n"
      "# ROWFMT (one int4 column \"a\"), ROW (5), DONE (a valid count of 1), most significant\n"
      "# byte first\n"
      "s 0401 0024 0000 0000  ee 000b 0001 01 61 00 00000000 38 00  d1 00000005  "
      "fd 0010 0000 00000001\n");
  ASSERT_EQ(hex.frames.size(), 1u) << hex.err;
  EXPECT_EQ(hex.frames[0]["time"], "1970-01-01T00:00:00.001000Z");
  EXPECT_EQ(hex.frames[0]["duration_ms"], 1.0);
  EXPECT_EQ(hex.frames[0]["results"],
            json::parse(R"([{"columns": [{"name": "a", "type": "int4"}], "rows": 1}])"));
  EXPECT_EQ(hex.frames[0]["client"], "192.0.2.1:40001");
}

// Where record `n` (from 0) of a classic pcap file begins.
size_t RecordOffset(const std::string& pcap, int n) {
  size_t at = 24;
  for (int i = 0; i < n; ++i) {
    const auto* h = reinterpret_cast<const uint8_t*>(pcap.data() + at);
    at += 16 + (h[8] | h[9] << 8 | h[10] << 16 | static_cast<uint32_t>(h[11]) << 24);
  }
  return at;
}

TEST(Requests, CaptureCutInTheMiddleOfAnAnswer) {
  std::ifstream in(Capture("tsql-bigrows.pcap"), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The first 30 records of the 300-row capture: the select's answer is half there.
  const std::string path = "/tmp/tdsdecode_requests_cut.pcap";
  std::ofstream(path, std::ios::binary) << whole.substr(0, RecordOffset(whole, 30));
  std::vector<json> r = Requests(path);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2]["text"], "select * from bigtable order by id\n");
  EXPECT_EQ(r[2]["frame"], 10);
  EXPECT_EQ(r[2]["unanswered"], true);
  EXPECT_EQ(r[2]["duration_ms"], nullptr);
  EXPECT_EQ(r[2]["end_frame"], nullptr);
  EXPECT_EQ(r[2]["status"], nullptr);
  EXPECT_GT(r[2]["rows"].get<int>(), 0);  // the rows that did arrive
  EXPECT_LT(r[2]["rows"].get<int>(), 300);

  // Without its first 20 records the capture begins inside that answer, and without the login
  // its byte order is unknown: the answers are still paired with their requests.
  const std::string late = "/tmp/tdsdecode_requests_late.pcap";
  std::ofstream(late, std::ios::binary)
      << whole.substr(0, 24) + whole.substr(RecordOffset(whole, 20));
  r = Requests(late);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0]["kind"], "other");
  EXPECT_NE(r[0]["note"], nullptr);
  EXPECT_EQ(r[1]["text"], "select * from textdemo\n");
  EXPECT_EQ(r[1]["end_frame"], 80);
  EXPECT_EQ(r[2]["kind"], "logout");
  EXPECT_EQ(r[2]["end_frame"], 83);
  for (const json& q : r) EXPECT_EQ(q["unanswered"], false);
}

TEST(Requests, TextLog) {
  unsetenv("COLUMNS");  // lines are not shortened when the output is not a terminal
  const RunResult r = RunTdsdecode({"--requests", Capture("ctlib-cancel.pcap")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.compare(0, 5, "TIME "), 0) << r.out;
  EXPECT_NE(r.out.find("# 2026-12-06 (UTC)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" sa           language          2000.399       - -          [cancelled] "
                       "waitfor delay '00:00:02'\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nRequests: 9\n"), std::string::npos);
  EXPECT_NE(r.out.find("  attention             2\n"), std::string::npos);
  EXPECT_NE(r.out.find("Errors by number: none\n"), std::string::npos);
  const size_t slowest = r.out.find("Slowest requests:\n     2000.541 ms  ");
  EXPECT_NE(slowest, std::string::npos) << r.out;
}

}  // namespace
