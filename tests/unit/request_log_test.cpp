// The request tracker on token records built by hand: pairing requests with answers up to the
// completion token without the "more" bit, attentions, logins, answers without a request,
// requests the capture leaves unanswered, the order of output across connections, parameter
// and output values, decoded texts, cursors, dynamic statements and the rows kept; read back
// through the JSON and text writers. Then the request view on the real captures with the
// plug-in's message entry: rows framed without a walk count as the walked ones do.
#include "requests/request_log.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <sstream>

#include "checks.h"
#include "plugin_harness.h"
#include "requests/request_render.h"
#include "requests/request_view.h"

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
  // The text the walk decoded for the latest field.
  Msg& Decoded(const std::string& text) {
    m_tree.AttachText(text.data(), text.size());
    return *this;
  }
  // A value of the latest record.
  Msg& Val(const char* name, const char* type, uint8_t kind, const std::string& text,
           uint8_t flags = 0) {
    m_tree.AddValue(name, std::strlen(name), type, kind, flags, text.data(), text.size());
    return *this;
  }
  WalkedMessage At(uint32_t conn, bool c2s, uint64_t frame, int32_t type = 15) {
    WalkedMessage m;
    m.conn = conn;
    m.clientToServer = c2s;
    m.type = type;
    m.firstFrame = m.lastFrame = frame;
    m.firstUs = m.lastUs = static_cast<int64_t>(frame) * 1000;
    m.order = kWalkOrderLittle;
    m.tree = &m_tree;
    return m;
  }

 private:
  Msg& Add(const char* label, const std::string& bytes, FIELD_FORMAT format) {
    m_bytes.push_back(bytes);
    const std::string& b = m_bytes.back();
    FieldRecord f{label,      reinterpret_cast<const uint8_t*>(b.data()),
                  nullptr,    nullptr,
                  0,          static_cast<int32_t>(b.size()),
                  format,     0,
                  0xFFFFFFFF, -1,
                  0,          false};
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

Msg& LanguageToken(Msg& m, const std::string& text, uint8_t status = 0) {
  m.Token(0x21, "LANGUAGE")
      .Num("Length", static_cast<int64_t>(text.size() + 1))
      .Num("Status", status, 1, FF_FLAGS)
      .Str("Language text", text);
  return m;
}

Msg Language(const std::string& text) {
  Msg m;
  LanguageToken(m, text);
  return m;
}

// A ROWFMT of int columns (or of the given SQL datatypes, classic codes).
Msg& RowFormat(Msg& m, std::initializer_list<std::pair<const char*, int>> columns) {
  m.Token(0xEE, "ROWFMT").Num("Length", 0, 2).Num("No. of Columns", columns.size(), 2);
  for (const auto& c : columns) {
    m.Num("Column name length", static_cast<int64_t>(std::strlen(c.first)), 1);
    if (*c.first) m.Str("Column name", c.first);
    m.Num("Status", 0, 1).Num("User Type", 0).Num("Data Type", c.second, 1, FF_HEX);
    if (c.second == 0x27 || c.second == 0x26) m.Num("Length of data type", 4, 1);
    m.Num("Locale length", 0, 1);
  }
  return m;
}

// What the tracker writes, read back.
class Log {
 public:
  RequestOutput& output() { return m_writer; }
  std::string text() { return m_memory.text(); }
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
  RowFormat(answer, {{"a", 0x38}, {"b", 0x27}});
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
  // "rows": the counts, not the two ROW tokens. No rows kept: no "data".
  ExpectHas(r[0], json::parse(R"({"kind": "language", "text": "select a, b from t",
      "time": "1970-01-01T00:00:00.004000Z", "duration_ms": 4.5, "frame": 4, "end_frame": 6,
      "client": "192.0.2.1:40001", "server": "198.51.100.1:5000", "user": null,
      "params": {"count": 0, "values": []},
      "results": [{"columns": [{"name": "a", "type": "int"}, {"name": "b", "type": "varchar"}],
                   "rows": 2}],
      "rows": 3, "status": ["count"], "unanswered": false, "cancelled": false,
      "return_status": null, "note": null})"));
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

// Connections whose answered requests wait behind an unanswered one, with attentions, a later
// part of a request's message, rows kept, values and server messages: played with every waiting
// request kept whole, then with those an attention may cancel packed.
std::string PlayWaiting(size_t maxWaiting, size_t wholeWaiting) {
  Log log;
  RequestTracker t(log.output(), maxWaiting, wholeWaiting);
  t.KeepRows(2);
  Msg blocker = Language("waitfor delay '00:10:00'");
  t.Message(blocker.At(1, true, 1));
  Msg answer;
  RowFormat(answer, {{"a", 0x38}, {"b", 0x27}});
  answer.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "1").Val("b", "varchar", VK_CHARS, "x");
  answer.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "2").Val("b", "varchar", VK_NULL, "");
  answer.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "3").Val("b", "varchar", VK_CHARS, "z");
  answer.Token(0xAB, "INFO").Num("Length", 0, 2).Num("Info number", 5701, 4, FF_SIGNED);
  answer.Num("Info state", 2, 1).Num("Info class", 10, 1).Num("Message Length", 4, 2);
  answer.Str("Message", "note").Num("Server name length", 0, 1);
  answer.Token(0x79, "RETURNSTATUS").Num("Value", -6, 4, FF_SIGNED);
  answer.Token(0xD7, "PARAMS").Val("@o", "varchar", VK_CHARS, "out");
  answer.Token(0xFD).Num("Status", 0x10, 2, FF_FLAGS).Num("Transaction", 0, 2);
  answer.Num("Row Count", 3, 4, FF_SIGNED);
  Msg attention;
  Msg ack = Done(0x0020);
  Msg more;
  more.Token(0xD7, "PARAMS").Val("@p", "int", VK_NUMBER, "7");
  uint64_t frame = 10;
  for (uint32_t conn = 2; conn < 12; ++conn) {
    Msg request = Language("select a, b from t" + std::to_string(conn));
    t.Message(request.At(conn, true, frame++));
    t.Message(answer.At(conn, false, frame++));
  }
  t.Message(attention.At(3, true, frame++, 6));  // cancels the answered request of 3
  t.Message(ack.At(3, false, frame++));
  WalkedMessage part = more.At(4, true, frame++);  // a later part of 4's request
  part.part = 2;
  t.Message(part);
  Msg next = Language("select 2");
  t.Message(next.At(5, true, frame++));
  t.Message(answer.At(5, false, frame++));
  t.InputWaits();
  t.Message(attention.At(6, true, frame++, 6));  // after the wait: cancels nothing answered
  t.Message(ack.At(6, false, frame++));
  Msg done = Done(0x0000);
  t.Message(done.At(1, false, frame++));
  t.Message(attention.At(7, true, frame++, 6));
  t.Message(ack.At(7, false, frame++));
  t.ConnectionEnded(8);
  t.Finish();
  return log.text();
}

TEST(RequestTracker, RequestsWaitingPackedAreWrittenAsWhole) {
  const std::string whole = PlayWaiting(65536, 65536);
  EXPECT_EQ(PlayWaiting(65536, 0), whole);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 15);
  EXPECT_NE(whole.find("\"cancelled\": true"), std::string::npos);
  // Too many waiting: the earliest are written before their turn, packed or not.
  EXPECT_EQ(PlayWaiting(4, 0), PlayWaiting(4, 65536));
}

// A login of `user` from host "box" and application "isql".
Msg LoginAs(const std::string& user) {
  Msg login;
  login.Record("LOGIN").Str("Host Name", "box").Num("Host Name Length", 3, 1);
  login.Str("User Name", user).Num("User Name Length", static_cast<int64_t>(user.size()), 1);
  login.Str("Application Name", "isql").Num("Application Name Length", 4, 1);
  return login;
}

// Logins answered while another connection's request waits: a packed login leaves out the names
// its connection shows, and must still be written with its own when the connection logs in
// again as another user, is cancelled, ends or waits for input.
std::string PlayLogins(size_t wholeWaiting) {
  Log log;
  RequestTracker t(log.output(), 65536, wholeWaiting);
  Msg blocker = Language("waitfor delay '00:10:00'");
  t.Message(blocker.At(1, true, 1));
  Msg ack;
  ack.Token(0xAD, "LOGINACK").Num("Length", 0, 2).Num("Status", 5, 1);
  ack.Token(0xFD).Num("Status", 0, 2, FF_FLAGS);
  uint64_t frame = 10;
  for (uint32_t conn = 2; conn < 7; ++conn) {
    Msg login = LoginAs("user" + std::to_string(conn));
    t.Message(login.At(conn, true, frame++, 2));
    t.Message(ack.At(conn, false, frame++));
  }
  Msg again = LoginAs("other");
  t.Message(again.At(2, true, frame++, 2));  // 2 logs in again as another user
  t.Message(ack.At(2, false, frame++));
  Msg attention;
  t.Message(attention.At(3, true, frame++, 6));  // cancels 3's login
  Msg cancelled = Done(0x0020);
  t.Message(cancelled.At(3, false, frame++));
  t.ConnectionEnded(4);
  t.InputWaits();
  Msg later = LoginAs("later");
  t.Message(later.At(5, true, frame++, 2));  // after the wait
  t.Message(ack.At(5, false, frame++));
  Msg done = Done(0x0000);
  t.Message(done.At(1, false, frame++));
  t.Finish();
  return log.text();
}

TEST(RequestTracker, LoginsWaitingPackedKeepTheirOwnNames) {
  const std::string whole = PlayLogins(65536);
  EXPECT_EQ(PlayLogins(0), whole);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 9);
  // 2's first login: its own user, the connection's latest one.
  EXPECT_NE(whole.find("\"user\": \"other\", \"host\": \"box\", \"application\": \"isql\", "
                       "\"kind\": \"login\""),
            std::string::npos);
  EXPECT_NE(whole.find("\"login\": {\"user\": \"user2\""), std::string::npos);
}

TEST(RequestTracker, RequestsSentBeforeAnyAnswerTakeTheAnswersInOrder) {
  Log log;
  RequestTracker t(log.output());
  std::deque<Msg> requests;
  for (uint64_t i = 1; i <= 5; ++i) {
    requests.push_back(Language("select " + std::to_string(i)));
    t.Message(requests.back().At(1, true, i));
  }
  std::deque<Msg> answers;
  for (uint64_t i = 1; i <= 5; ++i) {
    answers.push_back(Done(0x10, static_cast<int32_t>(10 * i)));
    t.Message(answers.back().At(1, false, 10 + i));
  }
  t.Finish();
  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(Pluck(r, "end_frame"), json({11, 12, 13, 14, 15}));
  EXPECT_EQ(Pluck(r, "rows"), json({10, 20, 30, 40, 50}));
  EXPECT_EQ(Pluck(r, "unanswered"), json({false, false, false, false, false}));
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
  // A host name with an ISO-8859-1 letter: written in UTF-8.
  login.Record("LOGIN").Str("Host Name", std::string("b\xF6x") + std::string(27, '\0'));
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
  EXPECT_EQ(r[0]["login"], json::parse(R"({"user": "sa", "host": "b\u00f6x", "application": "tsql",
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

// A procedure called with a parameter format and values, its answer's message, rows, return
// status and returned parameters; an RPC with its parameters inline.
struct ProcedureCall {
  Msg call, answer, inlined;
  ProcedureCall() {
    call.Token(0xE6, "DBRPC").Num("Length", 0, 2).Num("RPC Name Length", 4, 1);
    call.Str("RPC Name", "p_do").Num("Options", 2, 2);
    call.Token(0xEC, "PARAMFMT").Num("Length", 0, 2).Num("No. of Params", 3, 2);
    call.Token(0xD7, "PARAMS")
        .Val("@a", "int", VK_NUMBER, "7")
        .Val("@b", "varchar", VK_CHARS, "it's", VF_OUTPUT)
        .Val("@c", "datetime", VK_NULL, "", VF_OUTPUT);
    answer.Token(0xE5, "EED").Num("Message Number", 0).Num("Class of the message", 0, 1);
    answer.Num("Message Length", 5, 2).Str("Message", "hello");
    RowFormat(answer, {{"a", 0x38}});
    answer.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "1");
    answer.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "2");
    answer.Token(0xFF, "DONEINPROC").Num("Status", 0x11, 2, FF_FLAGS).Num("Transaction", 0, 2);
    answer.Num("Row Count", 2, 4, FF_SIGNED);
    answer.Token(0x79, "RETURNSTATUS").Num("Value", -6, 4, FF_SIGNED);
    answer.Token(0xEC, "PARAMFMT").Num("Length", 0, 2).Num("No. of Params", 2, 2);
    answer.Token(0xD7, "PARAMS")
        .Val("", "varchar", VK_CHARS, "out:it's")
        .Val("@c", "datetime", VK_TEXT, "2025-01-02T03:04:05.000");
    answer.Token(0xFE, "DONEPROC").Num("Status", 0, 2, FF_FLAGS).Num("Row Count", 0, 4, FF_SIGNED);
    inlined.Token(0xE0, "RPC").Num("Length", 0, 2).Num("RPC Name Length", 2, 1);
    inlined.Str("RPC Name", "p2").Val("", "binary", VK_TEXT, "00ff", VF_OUTPUT);
  }
};

TEST(RequestTracker, ParametersReturnStatusAndOutputValues) {
  Log log;
  RequestTracker t(log.output());
  ProcedureCall p;
  t.Message(p.call.At(1, true, 1));
  t.Message(p.answer.At(1, false, 2));
  t.Message(p.inlined.At(1, true, 3));
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 2u);
  // Values as the message view writes them, "output" only on output parameters.
  ExpectHas(r[0], json::parse(R"({"kind": "dbrpc", "name": "p_do", "text": "p_do",
      "params": {"count": 3, "values": [{"name": "@a", "type": "int", "value": 7},
          {"name": "@b", "type": "varchar", "value": "it's", "output": true},
          {"name": "@c", "type": "datetime", "value": null, "output": true}]},
      "return_status": -6, "rows": 2, "messages": [{"number": 0, "class": 0, "state": 0,
      "text": "hello"}],
      "output": [{"name": "", "type": "varchar", "value": "out:it's"},
                 {"name": "@c", "type": "datetime", "value": "2025-01-02T03:04:05.000"}]})"));
  ExpectHas(r[1], json::parse(R"({"kind": "rpc", "unanswered": true, "params": {"count": 1,
      "values": [{"name": "", "type": "binary", "value": "00ff", "output": true}]}})"));
}

TEST(RequestTracker, DecodedTextsAreTakenOverTheBytes) {
  Log log;
  RequestTracker t(log.output());
  // The walk attached the statement decoded from the connection's character set; the bytes
  // alone would read as ISO-8859-1.
  Msg decoded;
  decoded.Token(0x21, "LANGUAGE").Num("Length", 0).Num("Status", 0, 1, FF_FLAGS);
  decoded.Str("Language text", "select '\xC3\xA4'").Decoded("select '\xC3\xA4'");
  Msg raw = Language("select '\xE4'");
  Msg procedure;
  procedure.Token(0xE6, "DBRPC").Str("RPC Name", "sp_\x80").Decoded("sp_\xE2\x82\xAC");
  Msg done = Done(0);
  for (Msg* m : {&decoded, &raw, &procedure}) {
    t.Message(m->At(1, true, 1));
    t.Message(done.At(1, false, 2));
  }
  t.Finish();
  EXPECT_EQ(Pluck(log.Records(), "text"),
            json({"select '\u00e4'", "select '\u00e4'", "sp_\u20ac"}));
}

TEST(RequestTracker, CursorsNamedThenNumbered) {
  Log log;
  RequestTracker t(log.output());
  // The capture begins with the end of an answer.
  Msg tail = Done(0x0010, 4);
  t.Message(tail.At(1, false, 1));
  // Declared, given its rows per fetch and opened in one message; the answer gives its id.
  Msg declare;
  declare.Token(0x10, "CURDECLARE3").Num("Length", 0).Num("Cursor Name Length", 2, 1);
  declare.Str("Cursor Name", "c1").Num("Options", 2).Num("Status", 0, 1);
  declare.Num("Statement length", 15).Str("Statement", "select * from t");
  declare.Token(0x83, "CURINFO").Num("Cursor ID", 0).Str("Cursor Name", "c1");
  declare.Token(0x84, "CUROPEN").Num("Cursor ID", 0).Str("Cursor Name", "c1");
  t.Message(declare.At(1, true, 2));
  Msg info;
  info.Token(0x83, "CURINFO").Num("Length", 0, 2).Num("Cursor ID", 5, 4, FF_SIGNED);
  info.Token(0xFD).Num("Status", 1, 2, FF_FLAGS);
  RowFormat(info, {{"id", 0x38}});
  info.Token(0x83, "CURINFO").Num("Length", 0, 2).Num("Cursor ID", 5, 4, FF_SIGNED);
  info.Token(0xFD).Num("Status", 0, 2, FF_FLAGS);
  t.Message(info.At(1, false, 3));
  // The key of the row updated, then the new values.
  Msg update;
  update.Token(0x85, "CURUPDATE").Num("Cursor ID", 5).Str("Table name", "t");
  update.Str("Statement", "update t set n = @p1");
  update.Token(0xCA, "KEY").Val("id", "int", VK_NUMBER, "0");
  update.Token(0xEC, "PARAMFMT").Num("No. of Params", 1, 2);
  update.Token(0xD7, "PARAMS").Val("", "varchar", VK_CHARS, "x");
  t.Message(update.At(1, true, 4));
  Msg counted = Done(0x10, 1);
  t.Message(counted.At(1, false, 5));
  Msg fetch;
  fetch.Token(0x82, "CURFETCH").Num("Length", 0, 2).Num("Cursor ID", 5);
  fetch.Num("Cursor fetch type", 1, 1);
  t.Message(fetch.At(1, true, 6));
  Msg stopped;
  stopped.Token(0xD1, "ROW");
  WalkedMessage s = stopped.At(1, false, 7);
  s.walkedToEnd = false;
  s.restReason = "no stored format for this data token";
  t.Message(s);
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 4u);
  ExpectHas(r[0], {{"kind", "other"}, {"rows", 4}});
  EXPECT_NE(r[0]["note"], nullptr);
  ExpectHas(r[1], json::parse(R"({"kind": "cursor-declare", "name": "c1",
      "text": "c1: select * from t", "note": null,
      "results": [{"columns": [{"name": "id", "type": "int"}], "rows": 0}]})"));
  ExpectHas(r[2], json::parse(R"({"kind": "cursor-update", "text": "c1 t: update t set n = @p1",
      "params": {"count": 1, "values": [{"name": "", "type": "varchar", "value": "x"}]}})"));
  // Fetched rows take the cursor's format.
  ExpectHas(r[3], {{"kind", "cursor-fetch"},
                   {"text", "c1 next"},
                   {"rows", 1},
                   {"results", json::parse(R"([{"columns": [{"name": "id", "type": "int"}],
                                                "rows": 1}])")},
                   {"unanswered", false},
                   {"note",
                    "the answer could not be walked to its end (no stored format for this "
                    "data token)"}});
}

TEST(RequestTracker, DynamicStatementsTakeTheNamesOfTheirDescription) {
  MemoryOutput memory;
  Log log;
  RequestTextWriter text(memory.out(), 0);
  // Both writers see the same requests.
  struct Both : RequestOutput {
    RequestOutput* a;
    RequestOutput* b;
    void Write(const Request& r) override {
      a->Write(r);
      b->Write(r);
    }
    void Finish() override {
      a->Finish();
      b->Finish();
    }
  } both;
  both.a = &log.output();
  both.b = &text;
  RequestTracker t(both);
  Msg prepare;
  prepare.Token(0xE7, "DYNAMIC").Num("Type", 1, 1).Num("Status", 0, 1).Str("Id", "dyn1");
  prepare.Str("Statement", "create proc dyn1 as select ? where 1 = ?");
  Msg described;
  described.Token(0xE7, "DYNAMIC").Num("Type", 0x20, 1).Str("Id", "dyn1");
  described.Token(0xE7, "DYNAMIC").Num("Type", 0x40, 1).Str("Id", "dyn1");
  described.Token(0x20, "PARAMFMT2").Num("No. of Params", 2, 2);
  described.Num("Param Name Length", 3, 1).Str("Param Name", "@p1");
  described.Num("Param Name Length", 3, 1).Str("Param Name", "@p2");
  described.Token(0xE7, "DYNAMIC").Num("Type", 0x80, 1).Str("Id", "dyn1");
  RowFormat(described, {{"a", 0x38}});
  described.Token(0xFD).Num("Status", 0, 2, FF_FLAGS);
  Msg execute;
  execute.Token(0xE7, "DYNAMIC").Num("Type", 2, 1).Num("Status", 1, 1).Str("Id", "dyn1");
  execute.Token(0xEC, "PARAMFMT").Num("No. of Params", 2, 2);
  execute.Token(0xD7, "PARAMS").Val("", "int", VK_NUMBER, "42").Val("", "int", VK_NULL, "");
  Msg rows;
  rows.Token(0xD1, "ROW").Val("a", "int", VK_NUMBER, "42");
  rows.Token(0xFD).Num("Status", 0x10, 2, FF_FLAGS).Num("Transaction", 0, 2);
  rows.Num("Row Count", 1, 4, FF_SIGNED);
  t.Message(prepare.At(1, true, 1));
  t.Message(described.At(1, false, 2));
  t.Message(execute.At(1, true, 3));
  t.Message(rows.At(1, false, 4));
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 2u);
  // The description of the statement's rows is no result set; the execute's rows take it.
  ExpectHas(r[0], {{"text", "prepare dyn1: create proc dyn1 as select ? where 1 = ?"},
                   {"results", json::array()},
                   {"rows", 0}});
  ExpectHas(r[1], json::parse(R"({"text": "execute dyn1", "params": {"count": 2, "values": [
      {"name": "", "type": "int", "value": 42}, {"name": "", "type": "int", "value": null}]},
      "results": [{"columns": [{"name": "a", "type": "int"}], "rows": 1}]})"));
  EXPECT_TRUE(Contains(memory.text(), " execute dyn1 (@p1 = 42, @p2 = NULL)\n"));
}

TEST(RequestTracker, KeepsTheFirstRowsOfEachResultSet) {
  Log log;
  RequestTracker t(log.output());
  t.KeepRows(2);
  Msg request = Language("select a, b from t select c from u");
  t.Message(request.At(1, true, 1));
  Msg answer;
  RowFormat(answer, {{"a", 0x38}, {"b", 0x27}});
  const struct {
    const char* a;
    uint8_t kind;
    const char* b;
  } rows[] = {{"1", VK_CHARS, "x \"y\""}, {"-2", VK_NULL, ""}, {"3", VK_CHARS, "z"}};
  for (const auto& row : rows)
    answer.Token(0xD1, "ROW")
        .Val("a", "int", VK_NUMBER, row.a)
        .Val("b", "varchar", row.kind, row.b);
  answer.Token(0xFD).Num("Status", 0x11, 2, FF_FLAGS).Num("Transaction", 0, 2);
  answer.Num("Row Count", 3, 4, FF_SIGNED);
  RowFormat(answer, {{"c", 0x32}});
  answer.Token(0xD1, "ROW").Val("c", "bit", VK_BOOL, "true");
  answer.Token(0xFD).Num("Status", 0x10, 2, FF_FLAGS).Num("Transaction", 0, 2);
  answer.Num("Row Count", 1, 4, FF_SIGNED);
  WalkedMessage a = answer.At(1, false, 2);
  EXPECT_EQ(t.RowsWanted(1), 2u);  // the answer's first result set is still to come
  t.Message(a);
  EXPECT_EQ(t.RowsWanted(1), 2u);  // the next request's
  t.Finish();

  const std::vector<json> r = log.Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["results"], json::parse(R"([
      {"columns": [{"name": "a", "type": "int"}, {"name": "b", "type": "varchar"}], "rows": 3,
       "data": [[1, "x \"y\""], [-2, null]]},
      {"columns": [{"name": "c", "type": "bit"}], "rows": 1, "data": [[true]]}])"));
  t.KeepRows(kMaxRowsKept + 1);
  EXPECT_EQ(t.rowsKept(), kMaxRowsKept);
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

TEST(RequestText, AlignedLinesDetailsAndSummary) {
  MemoryOutput memory;
  {
    RequestTextWriter writer(memory.out(), 160);
    RequestTracker t(writer);
    t.KeepRows(1);
    Msg q = Language(
        "select\n\tsomething   rather long that will not fit in the line at all, surely, "
        "and that is longer still");
    Msg err;
    err.Token(0xAA, "ERROR").Num("Length", 0, 2).Num("Error number", 208, 4, FF_SIGNED);
    err.Num("Error state", 1, 1).Num("Error class", 16, 1).Num("Message Length", 3, 2);
    err.Str("Error Message", "bad");
    err.Token(0xFD).Num("Status", 0x02, 2, FF_FLAGS);
    t.Message(q.At(1, true, 1));
    t.Message(err.At(1, false, 1500));
    ProcedureCall p;
    t.Message(p.call.At(1, true, 1600));
    t.Message(p.answer.At(1, false, 1601));
    Msg use;
    LanguageToken(use, "use @p0", 1);
    use.Token(0xEC, "PARAMFMT").Num("No. of Params", 1, 2);
    use.Token(0xD7, "PARAMS").Val("", "varchar", VK_CHARS, "pubs2");
    t.Message(use.At(1, true, 2000));
    t.Finish();
  }
  const std::string text = memory.text();
  EXPECT_EQ(text.substr(0, text.find('\n')), RequestTextHeader());
  for (const char* piece : {
           "# 1970-01-01 (UTC)\n",
           "00:00:00.001000     1 -            language          1499.000       - 208        "
           "select something rather long that will not fit in the line at all, surely, a...\n"
           "  error 208 (class 16): bad\n",
           // A call with its values; unnamed output values named after the call's parameter.
           " dbrpc                1.000       2 -          exec p_do @a = 7, @b = 'it''s' output, "
           "@c = NULL output\n"
           "  message 0: hello\n  return status -6\n  @b = 'out:it''s' (output)\n"
           "  @c = '2025-01-02T03:04:05.000' (output)\n  result 1: a (2 rows)\n    1\n"
           "    ... 1 more\n",
           "[unanswered] use @p0 (@p0 = 'pubs2')\n",
           "Requests: 3\n  language              2\n  dbrpc                 1\n",
           "Errors by number:\n       208       1  bad\n",
           "Slowest requests:\n     1499.000 ms  00:00:00.001000",
       })
    EXPECT_TRUE(Contains(text, piece));
}

// The request view on real captures, with the plug-in's message entry: every request of every
// capture without a note, and the rows of each request the same whether they were walked for
// their values or only framed and counted.
class RequestViewOnCaptures : public PluginTest {
 protected:
  static std::vector<json> Log(const std::string& capture, size_t keepRows) {
    MemoryOutput memory(1 << 20);
    {
      RequestJsonWriter writer(memory.out());
      HostStats stats;
      int64_t clock = 0;
      Options options;
      options.rows = keepRows;
      RequestView view(Entries().message, writer, stats, clock, options);
      uint64_t frame = 0;
      for (const CapturedMessage& m : MessagesOf(UnitTestData("captures/" + capture))) {
        const std::vector<uint8_t> block = WithEthernet(m.clientToServer, m.data);
        AssembledMessage message;
        message.block = block.data();
        message.data = block.data() + kEthernetBytes;
        message.length = m.data.size();
        message.type = static_cast<uint8_t>(m.type);
        message.channel = static_cast<uint16_t>(m.channel);
        message.packets = 1;
        message.firstFrame = message.lastFrame = ++frame;
        message.firstUs = message.lastUs = clock = static_cast<int64_t>(frame) * 1000;
        view.Walk(m.conn, m.clientToServer, message);
      }
      view.EndAll();
      view.Finish();
    }
    std::vector<json> out;
    std::istringstream lines(memory.text());
    for (std::string line; std::getline(lines, line);) out.push_back(json::parse(line));
    return out;
  }
};

TEST_F(RequestViewOnCaptures, RowsCountTheSameFramedOrWalked) {
  for (const char* capture :
       {"ctlib-cancel.pcap", "ctlib-cursor.pcap", "ctlib-dynamic.pcap", "ctlib-pkt2048.pcap",
        "ctlib-rpc.pcap", "dblib-rpc.pcap", "freebcp-out.pcap", "tsql-bigrows-split.pcap",
        "tsql-language.pcap", "vendorclient/bigresult.pcap", "vendorclient/cursor.pcap",
        "vendorclient/language.pcap", "vendorclient/prepared-dynamic.pcap",
        "vendorclient/rpc.pcap"}) {
    SCOPED_TRACE(capture);
    const std::vector<json> framed = Log(capture, 0);
    const std::vector<json> walked = Log(capture, kMaxRowsKept);
    ASSERT_EQ(framed.size(), walked.size());
    ASSERT_FALSE(framed.empty());
    for (size_t i = 0; i < framed.size(); ++i) {
      EXPECT_EQ(framed[i]["note"], nullptr) << framed[i].dump();
      EXPECT_EQ(walked[i]["note"], nullptr) << walked[i].dump();
      EXPECT_EQ(framed[i]["rows"], walked[i]["rows"]) << i;
      ASSERT_EQ(framed[i]["results"].size(), walked[i]["results"].size()) << i;
      for (size_t j = 0; j < framed[i]["results"].size(); ++j) {
        const json& set = walked[i]["results"][j];
        EXPECT_EQ(framed[i]["results"][j]["rows"], set["rows"]);
        EXPECT_EQ(set["data"].size(), set["rows"]);  // every row kept
      }
    }
  }
}

TEST_F(RequestViewOnCaptures, FirstRowsOfAProcedureAndABigResult) {
  // The procedure's result set: id i, name "<word>-i", amount i * 10.01, for i = 0, 1, 2.
  std::vector<json> r = Log("vendorclient/rpc.pcap", 2);
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[4]["results"], json::parse(R"([{"columns": [{"name": "id", "type": "int"},
      {"name": "name", "type": "varchar"}, {"name": "amount", "type": "numeric"}], "rows": 3,
      "data": [[0, "alpha-0", "0.00"], [1, "bravo-1", "10.01"]]}])"));
  // 3000 rows: two kept, the others counted.
  r = Log("vendorclient/bigresult.pcap", 2);
  ASSERT_EQ(r.size(), 6u);
  ASSERT_EQ(r[4]["results"].size(), 1u);
  ExpectHas(r[4]["results"][0], {{"rows", 3000}});
  EXPECT_EQ(r[4]["results"][0]["data"].size(), 2u);
}

}  // namespace
