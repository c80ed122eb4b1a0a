// The request tracker on token records built by hand: pairing requests with answers up to the
// completion token without the "more" bit, attentions, logins, answers without a request,
// requests the capture leaves unanswered, the order of output across connections; read back
// through the JSON writer.
#include "request_log.h"

#include <deque>

#include "checks.h"
#include "plugin_harness.h"
#include "request_render.h"

using nlohmann::json;

namespace {

// One message's token records, the way the message entry records them.
class Msg {
 public:
  Msg() { m_tree.BeginFrame(m_frame, sizeof(m_frame), m_frame); }
  Msg& Token(int32_t code, const char* name = "TOKEN") {
    m_tree.AddPacket(name, "");
    m_tree.MarkSpan(code, 0, 0);
    return *this;
  }
  Msg& Record(const char* name) {
    m_tree.AddPacket(name, "");
    return *this;
  }
  // A little-endian integer field.
  Msg& Num(const char* label, int64_t value, int32_t size = 4, FIELD_FORMAT format = FF_DECIMAL) {
    std::string bytes;
    for (int32_t i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return Add(label, bytes, format);
  }
  Msg& Str(const char* label, const std::string& text, FIELD_FORMAT format = FF_STRING) {
    return Add(label, text, format);
  }
  WalkedMessage At(uint32_t conn, bool c2s, uint64_t frame, int32_t type = 15) {
    WalkedMessage m;
    m.conn = conn;
    m.clientToServer = c2s;
    m.type = type;
    m.firstFrame = m.lastFrame = frame;
    m.firstUs = m.lastUs = static_cast<int64_t>(frame) * 1000;
    m.tree = &m_tree;
    return m;
  }

 private:
  Msg& Add(const char* label, const std::string& bytes, FIELD_FORMAT format) {
    m_bytes.push_back(bytes);
    const std::string& b = m_bytes.back();
    FieldRecord f{label,   reinterpret_cast<const uint8_t*>(b.data()),
                  0,       static_cast<int32_t>(b.size()),
                  format,  nullptr,
                  0,       0xFFFFFFFF,
                  nullptr, false};
    m_tree.AddField(f);
    return *this;
  }

  uint8_t m_frame[16] = {};
  DisplayTree m_tree;
  std::deque<std::string> m_bytes;
};

Msg Done(uint16_t status, int32_t count = 0, int32_t token = 0xFD) {
  Msg m;
  m.Token(token, "DONE").Num("Status", status, 2, FF_FLAGS).Num("Transaction", 0, 2);
  if (status & 0x10)
    m.Num("Row Count", count, 4, FF_SIGNED);
  else
    m.Num("Row count is not valid", 0, 4, FF_NONE);
  return m;
}

Msg Language(const std::string& text) {
  Msg m;
  m.Token(0x21, "LANGUAGE")
      .Num("Length", static_cast<int64_t>(text.size() + 1))
      .Str("Language text", std::string(1, '\0') + text, FF_DUMP);
  return m;
}

// What the tracker writes, read back.
class Log {
 public:
  RequestOutput& output() { return m_writer; }
  std::vector<json> Records() {
    std::vector<json> out;
    const std::string all = m_memory.text();
    size_t at = 0;
    while (at < all.size()) {
      const size_t nl = all.find('\n', at);
      out.push_back(json::parse(all.substr(at, nl - at)));
      at = nl + 1;
    }
    return out;
  }

 private:
  MemoryOutput m_memory;
  RequestJsonWriter m_writer{m_memory.out()};
};

TEST(RequestTracker, PairsALanguageCommandWithItsRowsAndCompletion) {
  Log log;
  RequestTracker t(log.output());
  t.ConnectionOpened(1, "192.0.2.1:40001", "198.51.100.1:5000");
  Msg request = Language("select a, b from t");
  t.Message(request.At(1, true, 4));
  Msg answer;
  answer.Token(0xEE, "ROWFMT").Num("Length", 0, 2).Num("No. of Columns", 2, 2);
  answer.Num("Column name length", 1, 1).Str("Column name", "a").Num("Status", 0, 1);
  answer.Num("User Type", 0).Num("Data Type", 0x38, 1, FF_HEX).Num("Locale length", 0, 1);
  answer.Num("Column name length", 1, 1).Str("Column name", "b").Num("Status", 0, 1);
  answer.Num("User Type", 0).Num("Data Type", 0x27, 1, FF_HEX).Num("Length of data type", 20, 1);
  answer.Token(0xD1, "ROW").Token(0xD1, "ROW");
  // The count of a DONE with the "more" bit adds up with the final one.
  answer.Token(0xFD, "DONE").Num("Status", 0x11, 2, FF_FLAGS).Num("Transaction", 0, 2);
  answer.Num("Row Count", 2, 4, FF_SIGNED);
  answer.Token(0xFD, "DONE").Num("Status", 0x10, 2, FF_FLAGS).Num("Transaction", 0, 2);
  answer.Num("Row Count", 1, 4, FF_SIGNED);
  WalkedMessage a = answer.At(1, false, 6);
  a.lastUs = 8500;  // the answer's last frame
  t.Message(a);
  EXPECT_EQ(t.waiting(), 1u);  // held: an attention could still cancel it
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 1u);
  // "rows": the counts, not the two ROW tokens.
  ExpectHas(r[0], json::parse(R"({"kind": "language", "text": "select a, b from t",
      "time": "1970-01-01T00:00:00.004000Z", "duration_ms": 4.5, "frame": 4, "end_frame": 6,
      "client": "192.0.2.1:40001", "server": "198.51.100.1:5000", "user": null,
      "results": [{"columns": [{"name": "a", "type": "int4"}, {"name": "b", "type": "varchar"}],
                   "rows": 2}],
      "rows": 3, "status": ["count"], "unanswered": false, "cancelled": false,
      "return_status": null})"));
}

TEST(RequestTracker, SortsMessagesIntoErrorsAndMessages) {
  Log log;
  RequestTracker t(log.output());
  Msg request = Language("select * from nosuch print 'hi'");
  t.Message(request.At(1, true, 1));
  Msg answer;
  answer.Token(0xAA, "ERROR").Num("Length", 0, 2).Num("Error number", 208, 4, FF_SIGNED);
  answer.Num("Error state", 1, 1).Num("Error class", 16, 1).Num("Message Length", 6, 2);
  answer.Str("Error Message", "nosuch").Num("Server name length", 0, 1);
  answer.Token(0xE5, "EED").Num("Length", 0, 2).Num("Message Number", 0).Num("Message State", 1, 1);
  answer.Num("Class of the message", 0, 1).Num("SQL state length", 0, 1).Num("Status", 0, 1);
  answer.Num("Transaction", 0, 2).Num("Message Length", 2, 2).Str("Message", "hi");
  answer.Token(0xAB, "INFO").Num("Length", 0, 2).Num("Info number", 5701, 4, FF_SIGNED);
  answer.Num("Info state", 2, 1).Num("Info class", 10, 1).Num("Message Length", 0, 2);
  answer.Num("Server name length", 0, 1);
  answer.Token(0xFD).Num("Status", 0x02, 2, FF_FLAGS);
  t.Message(answer.At(1, false, 2));
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["errors"], json::parse(R"([{"number": 208, "class": 16, "state": 1,
                                             "text": "nosuch"}])"));
  ASSERT_EQ(r[0]["messages"].size(), 2u);
  EXPECT_EQ(r[0]["messages"][0]["text"], "hi");
  ExpectHas(r[0]["messages"][1], {{"number", 5701}, {"text", ""}});  // an empty message
  ExpectHas(r[0], {{"status", json::array({"error"})}, {"rows", 0}});
}

TEST(RequestTracker, AttentionsCancelTheRequestBeforeThem) {
  Log log;
  RequestTracker t(log.output());
  // The slow batch is cancelled before any answer: its own DONE, then the acknowledgement.
  Msg slow = Language("waitfor delay '00:00:02'");
  Msg attention;
  t.Message(slow.At(1, true, 1));
  t.Message(attention.At(1, true, 2, 6));
  Msg done = Done(0x0000);
  Msg ack = Done(0x0020);
  t.Message(done.At(1, false, 3));
  t.Message(ack.At(1, false, 4));
  // The big select's answer is complete on the wire before the client cancels it.
  Msg big = Language("select * from big");
  Msg rows;
  rows.Token(0xD1).Token(0xD1).Token(0xFD).Num("Status", 0x10, 2, FF_FLAGS);
  rows.Num("Transaction", 0, 2).Num("Row Count", 300, 4, FF_SIGNED);
  t.Message(big.At(1, true, 5));
  t.Message(rows.At(1, false, 6));
  t.Message(attention.At(1, true, 7, 6));
  t.Message(ack.At(1, false, 8));
  // An acknowledgement that no attention in the capture asked for.
  Msg lone = Language("select 1");
  t.Message(lone.At(1, true, 9));
  t.Message(ack.At(1, false, 10));
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(Pluck(r, "kind"), json({"language", "attention", "language", "attention", "language"}));
  EXPECT_EQ(Pluck(r, "cancelled"), json({true, false, true, false, true}));
  EXPECT_EQ(Pluck(r, "end_frame"), json({3, 4, 6, 8, 10}));  // 6: the answer had ended
  EXPECT_EQ(r[1]["status"], json::array({"attention"}));
  EXPECT_EQ(r[2]["rows"], 300);
  EXPECT_NE(r[4]["note"], nullptr);
}

TEST(RequestTracker, LoginRecordAndWhoIsLoggedIn) {
  Log log;
  RequestTracker t(log.output());
  Msg login;
  login.Record("LOGIN").Str("Host Name", std::string("box") + std::string(27, '\0'));
  login.Num("Host Name Length", 3, 1).Str("User Name", std::string("sa") + std::string(28, '\0'));
  login.Num("User Name Length", 2, 1).Num("Two Byte Integer Ordering", 3, 1);
  login.Str("Application Name", std::string("tsql") + std::string(26, ' '));
  login.Num("Application Name Length", 4, 1).Str("Client Library Name", "CT-Library");
  login.Num("Client Library Length", 10, 1)
      .Str("Client Library Version", std::string("\x05\x00\x00\x00", 4), FF_VERSION);
  login.Str("Packet Size", "512\0\0\0").Num("Packet Size Length", 3, 1);
  t.Message(login.At(1, true, 1, 2));
  Msg refused;
  refused.Token(0xAD, "LOGINACK").Num("Length", 0, 2).Num("Status", 6, 1);
  refused.Token(0xFD).Num("Status", 0x02, 2, FF_FLAGS);
  t.Message(refused.At(1, false, 2, 4));
  Msg logout;
  logout.Token(0x71, "LOGOUT").Num("Options", 0, 1);
  t.Message(logout.At(1, true, 3));
  t.ConnectionEnded(1);  // the logout is not answered

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]["kind"], "login");
  EXPECT_EQ(r[0]["login"], json::parse(R"({"user": "sa", "host": "box", "application": "tsql",
      "library": "CT-Library", "library_version": "5.0.0.0", "packet_size": "512",
      "byte_order": "little-endian", "accepted": false})"));
  EXPECT_EQ(r[0]["user"], "sa");
  ExpectHas(r[1], {{"kind", "logout"},
                   {"user", "sa"},
                   {"application", "tsql"},
                   {"unanswered", true},
                   {"duration_ms", nullptr},
                   {"end_frame", nullptr}});
}

TEST(RequestTracker, ParametersReturnStatusAndOutputValues) {
  Log log;
  RequestTracker t(log.output());
  Msg rpc;
  rpc.Token(0xE6, "DBRPC").Num("Length", 0, 2).Num("RPC Name Length", 4, 1).Str("RPC Name", "p_do");
  rpc.Token(0xEC, "PARAMFMT").Num("Length", 0, 2).Num("No. of Params", 2, 2);
  rpc.Num("Param Name Length", 2, 1).Str("Param Name", "@a").Num("Status", 0, 1);
  rpc.Num("User Type", 0).Num("Data Type", 0x38, 1, FF_HEX).Num("Locale length", 0, 1);
  rpc.Num("Param Name Length", 2, 1).Str("Param Name", "@b").Num("Status", 0x08, 1);
  rpc.Num("User Type", 0).Num("Data Type", 0x26, 1, FF_HEX).Num("Length of data type", 4, 1);
  rpc.Num("Locale length", 0, 1);
  rpc.Token(0xD7, "PARAMS").Num("Data", 7).Num("Data Length", 0, 1).Str("Data", "", FF_DUMP);
  t.Message(rpc.At(1, true, 1));
  Msg answer;
  answer.Token(0x79, "RETURNSTATUS").Num("Value", -6, 4, FF_SIGNED);
  answer.Token(0xEC, "PARAMFMT").Num("Length", 0, 2).Num("No. of Params", 1, 2);
  answer.Num("Param Name Length", 2, 1).Str("Param Name", "@b").Num("Data Type", 0x26, 1, FF_HEX);
  answer.Token(0xD7, "PARAMS")
      .Num("Data Length", 4, 1)
      .Str("Data", std::string("\x2a\0\0\0", 4), FF_DUMP);
  answer.Token(0xFE, "DONEPROC").Num("Status", 0, 2, FF_FLAGS).Num("Row Count", 0, 4, FF_SIGNED);
  t.Message(answer.At(1, false, 2));
  // An RPC with its parameters inline.
  Msg inline_;
  inline_.Token(0xE0, "RPC").Num("Length", 0, 2).Num("RPC Name Length", 2, 1).Str("RPC Name", "p2");
  inline_.Num("Options", 0, 2).Num("Param Name Length", 0, 1).Num("Status", 1, 1);
  inline_.Num("Data Type", 0x27, 1, FF_HEX).Num("Length of data type", 3, 1);
  inline_.Num("Param Name Length", 2, 1).Str("Param Data", "abc");
  t.Message(inline_.At(1, true, 3));
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 2u);
  ExpectHas(r[0], json::parse(R"({"kind": "dbrpc", "text": "p_do", "params": {"count": 2,
      "values": [{"name": "@a", "type": "int4", "output": false, "value": 7},
                 {"name": "@b", "type": "intn", "output": true, "value": null}]},
      "return_status": -6, "output": [{"name": "@b", "type": "intn", "value": "2a000000"}]})"));
  ExpectHas(r[1], json::parse(R"({"kind": "rpc", "unanswered": true, "params": {"count": 1,
      "values": [{"name": null, "type": "varchar", "output": true, "value": "abc"}]}})"));
}

TEST(RequestTracker, CursorsByIdAnswersWithoutRequestAndWalksThatStopped) {
  Log log;
  RequestTracker t(log.output());
  // The capture begins with the end of an answer.
  Msg tail = Done(0x0010, 4);
  t.Message(tail.At(1, false, 1));
  Msg declare;
  declare.Token(0x86, "CURDECLARE").Str("Cursor Name", std::string("c1") + std::string(8, '\0'));
  declare.Str("Statement ", "select * from t");
  t.Message(declare.At(1, true, 2));
  Msg info;
  info.Token(0x83, "CURINFO").Num("Length", 0, 2).Num("Cursor ID", 5, 4, FF_SIGNED);
  info.Token(0xFD).Num("Status", 0, 2, FF_FLAGS);
  t.Message(info.At(1, false, 3));
  Msg fetch;
  fetch.Token(0x82, "CURFETCH").Num("Length", 0, 2).Num("Cursor ID", 5);
  fetch.Num("Cursor fetch type", 1, 1);
  t.Message(fetch.At(1, true, 4));
  Msg stopped;
  stopped.Token(0xD1, "ROW");
  WalkedMessage s = stopped.At(1, false, 5);
  s.walkedToEnd = false;
  s.restReason = "no stored format for this data token";
  t.Message(s);
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 3u);
  ExpectHas(r[0], {{"kind", "other"}, {"rows", 4}});
  EXPECT_NE(r[0]["note"], nullptr);
  ExpectHas(r[1], {{"kind", "cursor-declare"}, {"name", "c1"}, {"text", "c1: select * from t"}});
  ExpectHas(r[2], {{"kind", "cursor-fetch"},
                   {"text", "c1 next"},
                   {"rows", 1},
                   {"unanswered", false},
                   {"note",
                    "the answer could not be walked to its end (no stored format for this "
                    "data token)"}});
}

TEST(RequestTracker, WritesInTheOrderRequestsWereSent) {
  Log log;
  RequestTracker t(log.output(), 3);
  Msg q = Language("q");
  Msg done = Done(0);
  t.Message(q.At(1, true, 1));
  t.Message(q.At(2, true, 2));
  t.Message(done.At(2, false, 3));
  t.Message(q.At(2, true, 4));
  t.Message(done.At(1, false, 5));
  EXPECT_TRUE(log.Records().empty());  // connection 1's request may still be cancelled
  t.Message(q.At(1, true, 6));
  std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 2u);
  ExpectHas(r[0], {{"conn", 1}, {"end_frame", 5}});
  ExpectHas(r[1], {{"conn", 2}, {"request", 2}});
  // Past the bound, the earliest request is written with what is known.
  t.Message(q.At(2, true, 7));
  t.Message(q.At(2, true, 8));
  r = log.Records();
  ASSERT_EQ(r.size(), 3u);
  ExpectHas(r[2], {{"frame", 4}, {"duration_ms", nullptr}, {"unanswered", false}});
  EXPECT_NE(r[2]["note"], nullptr);
}

TEST(RequestText, AlignedLinesAndSummary) {
  MemoryOutput memory;
  {
    RequestTextWriter writer(memory.out(), 110);
    RequestTracker t(writer);
    Msg q =
        Language("select\n\tsomething   rather long that will not fit in the line at all, surely");
    Msg err;
    err.Token(0xAA, "ERROR").Num("Length", 0, 2).Num("Error number", 208, 4, FF_SIGNED);
    err.Num("Error state", 1, 1).Num("Error class", 16, 1).Num("Message Length", 3, 2);
    err.Str("Error Message", "bad");
    err.Token(0xFD).Num("Status", 0x02, 2, FF_FLAGS);
    t.Message(q.At(1, true, 1));
    t.Message(err.At(1, false, 1500));
    Msg short_ = Language("select 1");
    t.Message(short_.At(1, true, 2000));
    t.Finish();
  }
  const std::string text = memory.text();
  EXPECT_EQ(text.substr(0, text.find('\n')), RequestTextHeader());
  for (const char* piece :
       {"# 1970-01-01 (UTC)\n",
        "00:00:00.001000     1 -            language          1499.000       - 208        "
        "select something rather lo...\n",
        "[unanswered] select 1\n", "Requests: 2\n  language              2\n",
        "Errors by number:\n       208       1  bad\n",
        "Slowest requests:\n     1499.000 ms  00:00:00.001000"})
    EXPECT_TRUE(Contains(text, piece));
}

}  // namespace
