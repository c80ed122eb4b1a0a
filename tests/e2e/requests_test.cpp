// The request log end to end: `tdsdecode --requests` on the real captures (kinds, texts, rows,
// parameter and returned values, return statuses, errors and messages, cancelled requests, a
// refused login, several connections, no request of a whole capture with a note), on captures
// made here with known timestamps, and on a capture cut in the middle of an answer.
#include <cstdlib>

#include "pcap_builder.h"

using nlohmann::json;
using namespace pcapbuild;

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

// A type-15 packet holding a LANGUAGE token (little-endian length, status 0, the text).
Bytes LanguagePacket(const std::string& text) {
  Bytes token = {0x21};
  PutLe32(token, static_cast<uint32_t>(text.size() + 1));
  token.push_back(0);
  token.insert(token.end(), text.begin(), text.end());
  Bytes p = {15, 1};
  Put16(p, static_cast<uint32_t>(8 + token.size()));
  p.insert(p.end(), {0, 0, 0, 0});
  return Cat({p, token});
}

// A type-4 packet holding DONE with a valid count of `rows`, least significant byte first as
// the LANGUAGE before it.
Bytes DonePacket(uint32_t rows) {
  Bytes p = Hex("04 01 0011 0000 0000  fd 1000 0000");
  PutLe32(p, rows);
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
  EXPECT_EQ(r[6]["status"], json::array({"error"}));
  EXPECT_EQ(ErrorNumbers(r[7]), std::vector<int>{102});
  ExpectHas(r[8], {{"text", "print 'hello from the capture'\n"}, {"errors", json::array()}});
  ASSERT_EQ(r[8]["messages"].size(), 1u);
  EXPECT_EQ(r[8]["messages"][0]["text"], "hello from the capture");
  EXPECT_EQ(r[9]["messages"][0]["text"], "This is an INFO message from the fake server.");
  EXPECT_EQ(r[11]["return_status"], 0);
  EXPECT_EQ(r[12]["messages"][0]["number"], 5701);
  // The result set of a select: its columns from the row format.
  ASSERT_EQ(r[2]["results"].size(), 1u);
  EXPECT_EQ(r[2]["results"][0]["columns"].size(), 20u);
  EXPECT_EQ(r[2]["results"][0]["columns"][0], (json{{"name", "id"}, {"type", "int"}}));
  EXPECT_EQ(r[2]["results"][0]["rows"], 5);
  // The two statements of a batch: two result sets, one count each.
  EXPECT_EQ(r[14]["results"].size(), 2u);
  // Text and image columns, with the table name real servers send after their length.
  ExpectHas(r[3], {{"text", "select * from textdemo\n"}, {"rows", 3}});
  for (const json& q : r) {
    ExpectHas(q, {{"conn", 1},
                  {"user", "sa"},
                  {"application", "TSQL"},
                  {"server", "127.0.0.1:5000"},
                  {"unanswered", false},
                  {"cancelled", false}});
  }
  ExpectHas(r[0]["login"],
            {{"accepted", true}, {"packet_size", "512"}, {"byte_order", "little-endian"}});
}

// A value as the request log writes it: name, SQL type, value, and "output": true for an output
// parameter of a request.
json Value(const char* name, const char* type, json value, bool output = false) {
  json v = {{"name", name}, {"type", type}, {"value", std::move(value)}};
  if (output) v["output"] = true;
  return v;
}

TEST(Requests, RemoteProcedureCalls) {
  const std::vector<json> r = Requests(Capture("ctlib-rpc.pcap"));
  EXPECT_EQ(Kinds(r), (std::vector<std::string>{"login", "language", "dbrpc", "dbrpc", "dbrpc",
                                                "language", "logout"}));
  ExpectHas(r[2], {{"name", "sp_capture_rpc"}, {"return_status", 0}, {"rows", 15}});
  // The capture's 15 parameters: 9 inputs (int, char, smallint, tinyint, bit, numeric(10,2),
  // datetime, binary, a NULL int) and 6 outputs (int, char, float, money, numeric, datetime).
  // Each value is also what the server's echo rows show (its own reading of the call: "1" for
  // the bit, the datetime's days 0xb125 and ticks 0xda25b4 = 2024-02-29 13:14:15).
  const json params = {
      Value("@id", "int", 1234567),
      Value("@name", "char", "capture-name"),
      Value("@small", "smallint", -42),
      Value("@tiny", "tinyint", 200),
      Value("@flag", "bit", true),
      Value("@amount", "numeric", "12345.67"),
      Value("@when", "datetime", "2024-02-29T13:14:15.000"),
      Value("@bin", "binary", "010203fe"),
      Value("@nullarg", "int", nullptr),
      Value("@total", "int", 0, true),
      Value("@label", "char", nullptr, true),
      Value("@ratio", "float", 2.5, true),
      Value("@price", "money", "1999.9500", true),
      Value("@amount_out", "numeric", "12345.67", true),
      Value("@when_out", "datetime", "2024-02-29T13:14:15.000", true),
  };
  EXPECT_EQ(r[2]["params"], (json{{"count", 15}, {"values", params}}));
  // What the procedure returned: the amount plus one, the ratio times 1.5, the label of a NULL.
  const json output = {
      Value("@total", "int", 0),
      Value("@label", "varchar", "out:none"),
      Value("@ratio", "float", 3.75),
      Value("@price", "money", "1234.5000"),
      Value("@amount_out", "numeric", "12346.67"),
      Value("@when_out", "datetime", "2025-01-02T03:04:05.000"),
  };
  EXPECT_EQ(r[2]["output"], output);
  ExpectHas(r[3], {{"name", "sp_fail_status"},
                   {"return_status", -6},
                   {"params", json::parse(R"({"count": 0, "values": []})")}});
  ExpectHas(r[4], {{"name", "sp_err_missing"},
                   {"status", json::array({"error"})},
                   {"return_status", nullptr},
                   {"params", {{"count", 1}, {"values", {Value("@x", "int", 1234567)}}}}});
  EXPECT_EQ(ErrorNumbers(r[4]), std::vector<int>{2812});
}

TEST(Requests, ProcedureCallsOfTheVendorDriver) {
  const std::vector<json> r = Requests(Capture("vendorclient/rpc.pcap"));
  EXPECT_EQ(Kinds(r), (std::vector<std::string>{"login", "dbrpc", "language", "language", "dbrpc",
                                                "dbrpc", "dbrpc", "logout"}));
  // The driver's own requests after login: the metadata procedure with its client type and
  // metadata version, and the database of its URL as a parameter.
  ExpectHas(r[1],
            {{"name", "sp_mda"},
             {"params", {{"count", 2}, {"values", {Value("", "int", 1), Value("", "int", 9)}}}},
             {"rows", 10},
             {"return_status", 0}});
  ExpectHas(r[3], {{"text", "use @p0"},
                   {"params", {{"count", 1}, {"values", {Value("", "varchar", "pubs2")}}}}});
  // Called twice (n = 0, 1) with 1 input, 2 in/out and 2 output parameters, none named; the
  // procedure returns status 7, its in/out string prefixed with "out:", the in/out int doubled,
  // and fixed values for the outputs.
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE(n);
    const json& call = r[4 + static_cast<size_t>(n)];
    const std::string inOut = "in-out-" + std::to_string(n);
    const json params = {
        Value("", "int", 21 + n),
        Value("", "varchar", inOut, true),
        Value("", "numeric", nullptr, true),
        Value("", "bigdatetime", nullptr, true),
        Value("", "int", 5 + n, true),
    };
    const json output = {
        Value("", "varchar", "out:" + inOut),
        Value("", "numeric", "123.45"),
        Value("", "datetime", "2025-01-02T03:04:05.000"),
        Value("", "int", 2 * (5 + n)),
    };
    ExpectHas(call, {{"name", "sp_fake_proc"},
                     {"params", {{"count", 5}, {"values", params}}},
                     {"output", output},
                     {"return_status", 7},
                     {"rows", 3}});
    EXPECT_EQ(call["messages"][0]["text"], "Procedure sp_fake_proc ran in the fake server.");
  }
  ExpectHas(r[6], {{"name", "sp_err_missing"}, {"output", json::array()}});
  EXPECT_EQ(ErrorNumbers(r[6]), std::vector<int>{2812});
}

// Every request of every capture is paired with its answer: none carries a note, none is of
// an unknown kind.
TEST(Requests, NoRequestOfAWholeCaptureCarriesANote) {
  for (const char* capture : {"ctlib-cancel.pcap",
                              "ctlib-cursor.pcap",
                              "ctlib-dynamic.pcap",
                              "ctlib-options.pcap",
                              "ctlib-pkt2048.pcap",
                              "ctlib-rpc.pcap",
                              "dblib-rpc.pcap",
                              "freebcp-in.pcap",
                              "freebcp-out.pcap",
                              "tds5.pcap",
                              "tsql-bigrows-split.pcap",
                              "tsql-bigrows.pcap",
                              "tsql-language.pcap",
                              "tsql-loginfail.pcap",
                              "tsql-multiconn.pcap",
                              "tsql-pkt2048.pcap",
                              "vendorclient/bigresult.pcap",
                              "vendorclient/cursor.pcap",
                              "vendorclient/language.pcap",
                              "vendorclient/login.pcap",
                              "vendorclient/prepared-dynamic.pcap",
                              "vendorclient/rpc.pcap"}) {
    SCOPED_TRACE(capture);
    const std::vector<json> r = Requests(Capture(capture));
    EXPECT_FALSE(r.empty());
    for (const json& q : r) {
      EXPECT_EQ(q["note"], nullptr) << q.dump();
      EXPECT_NE(q["kind"], "other") << q.dump();
    }
  }
}

TEST(Requests, DynamicStatementsAndCursorsOfTheVendorDriver) {
  std::vector<json> r = Requests(Capture("vendorclient/prepared-dynamic.pcap"));
  ASSERT_EQ(r.size(), 21u);
  // Prepared as a procedure; executed with all 14 values, the first two with the format sent
  // again; described output is no result.
  ExpectHas(r[4], {{"kind", "dynamic"},
                   {"name", "dyn100"},
                   {"text",
                    "prepare dyn100: create proc dyn100 as select ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                    "?, ?, ?, ?, ?"},
                   {"results", json::array()}});
  for (int n = 0; n < 3; ++n) {
    const json& execute = r[6 + static_cast<size_t>(n)];
    ExpectHas(execute, {{"text", "execute dyn100"}, {"rows", 1}});
    const json& values = execute["params"]["values"];
    ASSERT_EQ(values.size(), 14u);
    EXPECT_EQ(values[0], Value("", "int", 100 + n));
    EXPECT_EQ(values[2], Value("", "varchar", "text-" + std::to_string(n) + " \u00e4\u00f6\u00fc"));
    EXPECT_EQ(values[11], Value("", "varchar", nullptr));
    // The select returns its parameters: the row's values are the values sent.
    EXPECT_EQ(execute["results"][0]["columns"].size(), 14u);
  }
  EXPECT_EQ(r[9]["text"], "deallocate dyn100");
  ExpectHas(r[11],
            {{"kind", "language"},
             {"text", "select name from systypes where type = @p0 and usertype = @p1"},
             {"params", {{"count", 2}, {"values", {Value("", "int", 56), Value("", "int", 0)}}}}});
  ExpectHas(r[18], {{"text", "execute dyn102"}, {"rows", 10}});

  r = Requests(Capture("vendorclient/cursor.pcap"));
  ASSERT_EQ(r.size(), 19u);
  // Declared, given 4 rows per fetch and opened in one message; fetched by the id the answer
  // gave it; updated and deleted through its key.
  ExpectHas(r[4], {{"kind", "cursor-declare"},
                   {"name", "cur_ro"},
                   {"text", "cur_ro: select id, name, amount from t1"}});
  std::vector<int> fetched;
  for (size_t i = 6; i < 10; ++i) {
    ExpectHas(r[i], {{"kind", "cursor-fetch"}, {"text", "cur_ro next"}});
    fetched.push_back(r[i]["rows"]);
  }
  EXPECT_EQ(fetched, (std::vector<int>{4, 4, 2, 0}));
  ExpectHas(r[14], {{"kind", "cursor-update"},
                    {"text", "cur_upd t1: UPDATE t1 SET name = @p1"},
                    {"params", {{"count", 1}, {"values", {Value("", "varchar", "changed-0")}}}},
                    {"rows", 1}});
  ExpectHas(r[15], {{"kind", "cursor-delete"}, {"text", "cur_upd t1"}, {"rows", 1}});
}

TEST(Requests, DynamicStatementsAndCursors) {
  std::vector<json> r = Requests(Capture("ctlib-dynamic.pcap"));
  ASSERT_EQ(r.size(), 7u);
  ExpectHas(r[2], {{"kind", "dynamic"},
                   {"name", "capdyn1"},
                   {"text",
                    "prepare capdyn1: create proc capdyn1 as select * from t where id = ? "
                    "and name = ?"}});
  // Two executes: the values of the statement's two placeholders, the second a NULL.
  const int ids[] = {1003, 1001};
  const json names[] = {"delta", nullptr};
  for (size_t i : {3u, 4u}) {
    ExpectHas(r[i],
              {{"text", "execute capdyn1"},
               {"rows", 3},
               {"params",
                {{"count", 2},
                 {"values", {Value("", "int", ids[i - 3]), Value("", "char", names[i - 3])}}}}});
  }
  // The second execute's row format repeats the first's and is shown the same.
  EXPECT_EQ(r[4]["results"], r[3]["results"]);
  EXPECT_EQ(r[4]["results"][0]["columns"].size(), 20u);
  EXPECT_EQ(r[5]["text"], "deallocate capdyn1");

  r = Requests(Capture("ctlib-cursor.pcap"));
  ASSERT_EQ(r.size(), 26u);
  ExpectHas(r[2], {{"kind", "cursor-declare"}, {"text", "capcur1: select * from t"}});
  std::vector<int> fetched;
  for (size_t i = 3; i < 7; ++i) {
    ExpectHas(r[i], {{"kind", "cursor-fetch"}, {"text", "capcur1 next"}});
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
  ExpectHas(r[2], {{"text", "waitfor delay '00:00:02'"}, {"cancelled", true}});
  ExpectHas(r[5], {{"text", "select * from bigtable"}, {"cancelled", true}, {"rows", 300}});
  int cancelled = 0;
  for (const json& q : r) cancelled += q["cancelled"].get<bool>();
  EXPECT_EQ(cancelled, 2);
  // The attention is acknowledged by the DONE with the attention bit; the retransmitted copy
  // of its packet is not a second attention.
  ExpectHas(r[3], {{"status", json::array({"attention"})}, {"frame", 11}, {"end_frame", 15}});
  EXPECT_GT(r[2]["duration_ms"].get<double>(), 2000.0);

  r = Requests(Capture("tsql-loginfail.pcap"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]["kind"], "login");
  ExpectHas(r[0]["login"], {{"accepted", false}, {"user", "baduser"}});
  EXPECT_EQ(ErrorNumbers(r[0]), std::vector<int>{4002});
  ExpectHas(r[1], {{"kind", "logout"}, {"user", "baduser"}});
}

TEST(Requests, EachConnectionWithItsOwnLogin) {
  const std::vector<json> r = Requests(Capture("tsql-multiconn.pcap"));
  ASSERT_EQ(r.size(), 12u);
  std::vector<std::string> clients;
  for (size_t i = 0; i < r.size(); ++i) {
    const char* const kinds[] = {"login", "language", "language", "logout"};
    ExpectHas(r[i], {{"conn", i / 4 + 1}, {"kind", kinds[i % 4]}, {"user", "sa"}, {"host", "vm"}});
    if (i % 4 == 0) clients.push_back(r[i]["client"]);
    EXPECT_EQ(r[i]["client"], clients.back());
  }
  EXPECT_EQ(clients,
            (std::vector<std::string>{"127.0.0.1:46486", "127.0.0.1:46490", "127.0.0.1:46506"}));
}

TEST(Requests, TimesAndDurationsFromTheCapture) {
  Flow flow;
  Pcap pcap;
  const uint32_t t0 = 1700000000;
  pcap.RecordAt(t0, 0, flow.Segment(true, SYN));
  pcap.RecordAt(t0, 10, flow.Segment(false, SYN | ACK));
  // A request whose packet spans two segments: its time is that of its first byte.
  const Bytes first = LanguagePacket("select 1");
  pcap.RecordAt(t0, 123456, flow.Segment(true, ACK, Slice(first, 0, 10)));
  pcap.RecordAt(t0, 124000, flow.Segment(true, ACK, Slice(first, 10, first.size())));
  pcap.RecordAt(t0, 373956, flow.Segment(false, ACK, DonePacket(1)));
  // A second request answered a second and a quarter later.
  pcap.RecordAt(t0 + 1, 0, flow.Segment(true, ACK, LanguagePacket("select 2")));
  pcap.RecordAt(t0 + 2, 250000, flow.Segment(false, ACK, DonePacket(7)));
  const std::string path = pcap.Write("timed.pcap");
  const std::vector<json> r = Requests(path);
  std::remove(path.c_str());
  ASSERT_EQ(r.size(), 2u);
  ExpectHas(r[0], {{"time", "2023-11-14T22:13:20.123456Z"},
                   {"frame", 3},
                   {"duration_ms", 250.5},
                   {"rows", 1},
                   {"client", "10.1.1.1:33000"},
                   {"server", "10.2.2.2:5000"}});
  ExpectHas(r[1], {{"time", "2023-11-14T22:13:21.000000Z"}, {"duration_ms", 1250.0}, {"rows", 7}});

  // Hex input has a clock of its own: frame N at N milliseconds.
  const RunResult hex = RunTdsdecode(
      {"--requests", "-o", "json", "--hex", "-"},
      "# LANGUAGE \"select 1\" (little-endian length 9, status 0)\n"
      "c 0f01 0016 0000 0000  21 09000000 00 73656c6563742031\n"
      "# ROWFMT (one int4 column \"a\"), ROW (5), DONE (a valid count of 1), least significant\n"
      "# byte first\n"
      "s 0401 0024 0000 0000  ee 0b00 0100 01 61 00 00000000 38 00  d1 05000000  "
      "fd 1000 0000 01000000\n");
  ASSERT_EQ(hex.frames.size(), 1u) << hex.err;
  ExpectHas(
      hex.frames[0],
      {{"time", "1970-01-01T00:00:00.001000Z"},
       {"duration_ms", 1.0},
       {"results", json::parse(R"([{"columns": [{"name": "a", "type": "int"}], "rows": 1}])")},
       {"client", "192.0.2.1:40001"}});
}

// Where record `n` (from 0) of a classic pcap file begins.
size_t RecordOffset(const std::string& pcap, int n) {
  size_t at = 24;
  for (int i = 0; i < n; ++i) {
    at += 16 + Le32At(pcap, at + 8);
  }
  return at;
}

TEST(Requests, CaptureCutInTheMiddleOfAnAnswer) {
  const std::string whole = ReadFile(Capture("tsql-bigrows.pcap"));
  // The first 30 records of the 300-row capture: the select's answer is half there.
  const std::string path = WriteTemp("cut.pcap", whole.substr(0, RecordOffset(whole, 30)));
  std::vector<json> r = Requests(path);
  std::remove(path.c_str());
  ASSERT_EQ(r.size(), 3u);
  ExpectHas(r[2], {{"text", "select * from bigtable order by id\n"},
                   {"frame", 10},
                   {"unanswered", true},
                   {"duration_ms", nullptr},
                   {"end_frame", nullptr},
                   {"status", nullptr}});
  EXPECT_GT(r[2]["rows"].get<int>(), 0);  // the rows that did arrive
  EXPECT_LT(r[2]["rows"].get<int>(), 300);

  // Without its first 20 records the capture begins inside that answer, and without the login
  // its byte order is unknown: the answers are still paired with their requests.
  const std::string late =
      WriteTemp("late.pcap", whole.substr(0, 24) + whole.substr(RecordOffset(whole, 20)));
  r = Requests(late);
  std::remove(late.c_str());
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0]["kind"], "other");
  EXPECT_NE(r[0]["note"], nullptr);
  ExpectHas(r[1], {{"text", "select * from textdemo\n"}, {"end_frame", 80}});
  ExpectHas(r[2], {{"kind", "logout"}, {"end_frame", 83}});
  for (const json& q : r) EXPECT_EQ(q["unanswered"], false);
}

TEST(Requests, TextLog) {
  unsetenv("COLUMNS");  // lines are not shortened when the output is not a terminal
  const RunResult r = RunTdsdecode({"--requests", Capture("ctlib-cancel.pcap")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.compare(0, 5, "TIME "), 0) << r.out;
  for (const char* line :
       {"# 2026-12-06 (UTC)\n",
        " sa           language          2000.399       - -          [cancelled] waitfor delay "
        "'00:00:02'\n",
        "\nRequests: 9\n", "  attention             2\n", "Errors by number: none\n",
        "Slowest requests:\n     2000.541 ms  "})
    EXPECT_TRUE(Contains(r.out, line));

  // Calls with their values, and under them what the procedure said and returned.
  const RunResult rpc = RunTdsdecode({"--requests", Capture("vendorclient/rpc.pcap")});
  ASSERT_EQ(rpc.exitCode, 0) << rpc.err;
  for (const char* piece :
       {" dbrpc                0.418      10 -          exec sp_mda 1, 9\n  return status 0\n",
        " language             0.162       - -          use @p0 (@p0 = 'pubs2')\n"
        "  message 5701: Changed database context to 'pubs2'.\n",
        " exec sp_fake_proc 22, 'in-out-1' output, NULL output, NULL output, 6 output\n"
        "  message 0: Procedure sp_fake_proc ran in the fake server.\n  return status 7\n"
        "  param 2 = 'out:in-out-1' (output)\n  param 3 = 123.45 (output)\n"
        "  param 4 = '2025-01-02T03:04:05.000' (output)\n  param 5 = 12 (output)\n",
        " exec sp_err_missing 1\n"
        "  error 2812 (class 16): Stored procedure 'sp_err_missing' not found.\n"})
    EXPECT_TRUE(Contains(rpc.out, piece));
}

}  // namespace
