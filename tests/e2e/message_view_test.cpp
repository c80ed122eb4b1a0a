// The message view end to end: whole TDS messages assembled from their packets, every token
// of a message shown with its name, span, fields and values, and the walk's early end with its
// reason. The token counts of the real captures are checked by tests/golden/token_counts.py.
#include <fstream>
#include <map>
#include <sstream>

#include "token_packets.h"

using tokenhex::Names;
using json = nlohmann::json;

namespace {

// A TDS packet around data: message type, status (0x01 the last buffer), channel 0. Lengths
// inside the data are written most significant byte first: without a login the connection's
// byte order is that.
std::string Pkt(int type, int status, const std::string& dataHex) {
  return tokenhex::Packet(dataHex, 0, 0, type, status);
}

// The message view of hex lines, JSON: `count` messages are expected (a missing one is an empty
// object).
std::vector<json> Messages(const std::string& hex, size_t count,
                           const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"--view", "message"};
  args.insert(args.end(), extra.begin(), extra.end());
  RunResult run = DecodeHex(hex, args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.frames.size(), count) << run.out;
  run.frames.resize(count, json::object());
  return run.frames;
}

Names TokenNames(const json& message) {
  Names names;
  for (const json& t : message.at("tokens")) names.push_back(t.at("name"));
  return names;
}

// The n-th field with this label in a token (an empty object when there is none).
json Field(const json& token, const std::string& label, int nth = 0) {
  const json* f = FindField(token, label, nth);
  EXPECT_NE(f, nullptr) << label << " in " << token.dump();
  return f ? *f : json::object();
}

// Two columns: an INT4 and a VARCHAR of at most 30 bytes.
const char kRowFmt[] =
    "ee 0013 0002"              // ROWFMT, length 19, two columns
    "00 00 00000000 38 00"      // name length 0, status, user type, INT4, locale length
    "00 00 00000000 27 1e 00";  // name length 0, status, user type, VARCHAR(30), locale
const char kRow1[] = "d1 00000001 02 6869";    // 1, "hi"
const char kRow2[] = "d1 00000002 03 616263";  // 2, "abc"
const char kDone[] = "fd 0000 0000 00000002";  // status, transaction state, count

}  // namespace

TEST(MessageView, ResponseShowsEveryTokenWithItsValues) {
  const std::vector<json> run =
      Messages("s " + Pkt(4, 1, std::string(kRowFmt) + kRow1 + kRow2 + kDone) + "\n", 1);
  const json& m = run[0];
  ExpectHas(m, {{"message", 1},
                {"frame", 1},
                {"conn", 1},
                {"dir", "s2c"},
                {"type", 4},
                {"packets", 1},
                {"bytes", 48},
                {"rest", kAbsent},
                {"cut_short", kAbsent}});
  EXPECT_EQ(TokenNames(m), (Names{"ROWFMT", "ROW", "ROW", "DONE"}));
  const json& tokens = m["tokens"];
  const int spans[4][2] = {{0, 22}, {22, 8}, {30, 9}, {39, 9}};
  const int codes[4] = {0xEE, 0xD1, 0xD1, 0xFD};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(tokens[i]["offset"], spans[i][0]);
    EXPECT_EQ(tokens[i]["size"], spans[i][1]);
    EXPECT_EQ(tokens[i]["token"], codes[i]);
    EXPECT_FALSE(tokens[i].contains("refused"));
  }
  EXPECT_EQ(tokens[0]["text"], "Description of Row Data");
  EXPECT_EQ(tokens[1]["text"], "A Row of Data");
  // Field offsets count from the first byte of the message data.
  ExpectHas(Field(tokens[0], "TDS Token Type"),
            {{"offset", 0}, {"text", "Description of Row Data"}});
  EXPECT_EQ(Field(tokens[0], "No. of Columns")["value"], 2);
  // Both rows decode with the format of the same message, their values typed.
  EXPECT_EQ(tokens[1]["values"], json::parse(R"([{"name": "", "type": "int", "value": 1},
                                                {"name": "", "type": "varchar", "value": "hi"}])"));
  EXPECT_EQ(tokens[2]["values"][1]["value"], "abc");
  EXPECT_EQ(Field(tokens[3], "TDS Token Type")["offset"], 39);

  // The text tree: a line for the message, a branch per token, fields beneath.
  const RunResult text =
      RunTdsdecode({"--view", "message", "--hex", "-"},
                   "s " + Pkt(4, 1, std::string(kRowFmt) + kRow1 + kRow2 + kDone) + "\n");
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out.rfind("Message 1: connection 1 (client 192.0.2.1:40001, server "
                           "198.51.100.1:5000), server to client, message type 4 (Response to a "
                           "command), 1 packet, 48 "
                           "bytes, frame 1 at 1970-01-01T00:00:00.001000Z, byte order big-endian "
                           "(inferred)\n    ROWFMT (Description of Row Data): offset 0, 22 bytes\n"
                           "        TDS Token Type: 0xee (Description of Row Data)\n",
                           0),
            0u)
      << text.out;
  EXPECT_TRUE(Contains(text.out,
                       "\n    ROW (A Row of Data): offset 30, 9 bytes\n"
                       "        TDS Token Type: 0xd1 (A Row of Data)\n"
                       "        (int): 2\n        (varchar): \"abc\"\n"));
  EXPECT_TRUE(
      Contains(text.out, "\n    DONE (Completion Status of a Command): offset 39, 9 bytes\n"));
}

TEST(MessageView, MessagesJoinPacketsAndSegments) {
  // A row split across two packets of one message, the second packet's header split across
  // two segments; the message ends with the packet that has the last-buffer bit.
  const std::string rows = std::string(kRowFmt) + kRow1;  // 30 bytes
  const std::string data = Pkt(4, 1, rows).substr(16);    // the data's hex digits
  const std::string firstPart = data.substr(0, 2 * 25);
  const std::string secondPart = data.substr(2 * 25) + Pkt(4, 1, kDone).substr(16);
  const std::string second = Pkt(4, 1, secondPart);
  const std::vector<json> run =
      Messages("s " + Pkt(4, 0, firstPart) + "\n" + "s " + second.substr(0, 6) + "\n" + "s " +
                   second.substr(6) + "\n",
               1);
  const json& m = run[0];
  ExpectHas(m, {{"frame", 3}, {"packets", 2}, {"bytes", 39}});
  EXPECT_EQ(TokenNames(m), (Names{"ROWFMT", "ROW", "DONE"}));
  const json& row = m["tokens"][1];
  ExpectHas(row, {{"offset", 22}, {"size", 8}});
  EXPECT_EQ(row["values"][0]["value"], 1);
  EXPECT_EQ(row["values"][1]["value"], "hi");

  // Messages are numbered in output order over both directions; an attention is a message
  // of its header alone.
  const std::vector<json> two = Messages("c " + Pkt(15, 1, "21 00000002 00 31") + "\n" + "c " +
                                             Pkt(6, 1, "") + "\n" + "s " + Pkt(4, 1, kDone) + "\n",
                                         3);
  EXPECT_EQ(Pluck(two, "message"), json({1, 2, 3}));
  EXPECT_EQ(TokenNames(two[0]), (Names{"LANGUAGE"}));
  ExpectHas(two[1], {{"type", 6}, {"bytes", 0}, {"tokens", json::array()}});
  EXPECT_EQ(two[2]["dir"], "s2c");

  // The stream ends inside a message: what was held comes out, marked.
  const std::vector<json> cut = Messages("s " + Pkt(4, 0, kDone) + "\n", 1);
  EXPECT_EQ(cut[0]["cut_short"], "the stream ended inside the message");
  EXPECT_EQ(TokenNames(cut[0]), (Names{"DONE"}));
}

TEST(MessageView, APartOfTinyTokensShowsAtMost8192Tokens) {
  // A client message of 40,000 LOGOUT tokens (2 bytes each) in 20 packets: past the 64 KiB
  // window its front is shown as a part of 8,192 tokens (a display tree of tiny tokens is
  // bounded by the count, not only by the window), and the last part shows the rest.
  std::string tokens;
  for (int i = 0; i < 2000; ++i) tokens += "7100";
  std::string hex;
  for (int p = 0; p < 20; ++p) hex += "c " + Pkt(15, p == 19 ? 1 : 0, tokens) + "\n";
  const std::vector<json> parts = Messages(hex, 2);
  ExpectHas(parts[0], {{"bytes", 16384}});
  EXPECT_EQ(parts[0]["part"], json({{"number", 1}, {"offset", 0}, {"last", false}}));
  EXPECT_EQ(parts[0]["tokens"].size(), 8192u);
  EXPECT_EQ(parts[1]["part"], json({{"number", 2}, {"offset", 16384}, {"last", true}}));
  EXPECT_EQ(parts[1]["tokens"].size(), 40000u - 8192u);
  EXPECT_EQ(parts[1]["message"], parts[0]["message"]);
}

TEST(MessageView, WalkGoesOnPastUnknownAndRefusedTokens) {
  const std::vector<json> run =
      Messages("s " +
                   Pkt(4, 1,
                       "a0 0003 aabbcc"    // COLNAME: 2-byte length, shown as bytes
                       "c5 0002 beef"      // a code nobody knows in the 2-byte range
                       "e3 0003 01 05 6d"  // ENVCHANGE: value longer than token
                       "fd 0000 0000 00000000") +
                   "\n",
               1);
  const json& m = run[0];
  EXPECT_FALSE(m.contains("rest"));
  EXPECT_EQ(TokenNames(m), (Names{"COLNAME", "UNKNOWN", "ENVCHANGE", "DONE"}));
  const json& tokens = m["tokens"];
  EXPECT_EQ(tokens[0]["size"], 6);
  EXPECT_EQ(Field(tokens[0], "Data")["value"], "aabbcc");
  ExpectHas(tokens[1], {{"offset", 6}, {"size", 5}});
  EXPECT_EQ(Field(tokens[1], "Data")["value"], "beef");
  // The refusal marks its token; the token's bytes from there on are shown as they are.
  ExpectHas(tokens[2], {{"refused", {{"label", "New value"}, {"size", 5}, {"left", 1}}}});
  ExpectHas(Field(tokens[2], "Undecoded data"), {{"offset", 16}, {"size", 1}});
  ExpectHas(tokens[3], {{"offset", 17}, {"refused", kAbsent}});
  EXPECT_EQ(Field(tokens[3], "Transaction")["offset"], 20);
}

TEST(MessageView, DataTokenWithoutFormatEndsTheWalk) {
  const std::vector<json> run = Messages("s " + Pkt(4, 1, std::string(kDone) + kRow1 + kDone) +
                                             "\n" + "c " + Pkt(15, 1, "d7 00000001") + "\n",
                                         2);
  const json& m = run[0];
  EXPECT_EQ(TokenNames(m), (Names{"DONE"}));
  ExpectHas(m["rest"],
            {{"offset", 9}, {"size", 17}, {"reason", "no stored format for this data token"}});
  // The bytes not walked are dumped.
  ExpectHas(m["rest"]["dump"], {{"offset", 9}, {"size", 17}, {"format", "dump"}});
  // PARAMS at the very start: no token at all.
  EXPECT_TRUE(run[1]["tokens"].empty());
  ExpectHas(run[1]["rest"], {{"offset", 0}, {"size", 5}});
}

TEST(MessageView, OptionsAndStatistics) {
  const RunResult bad = RunTdsdecode({"--view", "frames", "--hex", "-"}, "");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_TRUE(Contains(bad.err, "--view: unknown view 'frames' (packet or message)"));
  const RunResult help = RunTdsdecode({"--help"});
  EXPECT_TRUE(Contains(help.out, "--view message|packet"));

  const std::vector<json> run =
      Messages("c " + Pkt(15, 1, "21 00000002 00 31") + "\n" + "s " +
                   Pkt(4, 1, std::string(kRowFmt) + kRow1 + kRow2 + kDone) + "\n",
               3, {"--stats"});
  const json& s = run[2].at("stats").at("message_view");
  EXPECT_EQ(
      s["messages"],
      (json::array(
          {{{"dir", "c2s"}, {"type", 15}, {"text", "Normal TDS request or response"}, {"count", 1}},
           {{"dir", "s2c"}, {"type", 4}, {"text", "Response to a command"}, {"count", 1}}})));
  std::map<std::string, int> tokens;
  for (const json& t : s["tokens"])
    tokens[t["dir"].get<std::string>() + " " + t["name"].get<std::string>()] = t["count"];
  EXPECT_EQ(tokens, (std::map<std::string, int>{
                        {"c2s LANGUAGE", 1}, {"s2c ROWFMT", 1}, {"s2c ROW", 2}, {"s2c DONE", 1}}));
  ExpectHas(s, {{"messages_cut_short", 0}, {"messages_ended_early", 0}});
}

namespace {

// The message view of a capture, JSON.
RunResult CaptureMessages(const std::string& file, const std::string& port) {
  return DecodeCapture(file, {"--view", "message", "-o", "json", "-p", port});
}

}  // namespace

TEST(MessageView, RealCapturesLoginCursorAndDynamicDetails) {
  // The login: the record, its 4 trailing bytes as one dump, then the CAPABILITY token.
  const RunResult cursor = CaptureMessages("ctlib-cursor.pcap", "5000");
  const json& login = cursor.frames.at(0);
  ExpectHas(login, {{"type", 2}, {"packets", 2}});
  EXPECT_EQ(TokenNames(login), (Names{"LOGIN", "CAPABILITY"}));
  const json& record = login["tokens"][0];
  ExpectHas(record, {{"token", nullptr}, {"size", 568}});
  // Names are shown as their length gives them, without their padding.
  EXPECT_EQ(Field(record, "User Name")["value"], "sa");
  ExpectHas(Field(record, "Login Record Trailer"), {{"offset", 564}, {"size", 4}});
  EXPECT_EQ(login["tokens"][1]["offset"], 568);
  EXPECT_EQ(Field(login["tokens"][1], "TDS Token Type")["offset"], 568);

  // The client's cursor declaration, its rows per fetch and its open in one message.
  bool found = false;
  for (const json& m : cursor.frames) {
    if (TokenNames(m) != Names{"CURDECLARE", "CURINFO", "CUROPEN"}) continue;
    found = true;
    ExpectHas(m, {{"dir", "c2s"}, {"type", 15}});
    EXPECT_EQ(Field(m["tokens"][2], "Cursor Name")["value"], "capcur1");
    EXPECT_EQ(Field(m["tokens"][1], "Command")["value"], 1);  // set the fetch count
  }
  EXPECT_TRUE(found);

  // The DYNAMIC acknowledgement ends after its id: no statement length, nothing refused.
  const RunResult dynamic = CaptureMessages("ctlib-dynamic.pcap", "5000");
  int acks = 0;
  for (const json& m : dynamic.frames) {
    if (m["dir"] != "s2c") continue;
    for (size_t i = 0; i < m["tokens"].size(); ++i) {
      const json& t = m["tokens"][i];
      if (t["name"] != "DYNAMIC") continue;
      ++acks;
      EXPECT_FALSE(t.contains("refused"));
      EXPECT_EQ(FindField(t, "Statement Length"), nullptr);
      EXPECT_EQ(Field(t, "Id")["value"], "capdyn1");
      EXPECT_LT(i + 1, m["tokens"].size());
    }
  }
  EXPECT_EQ(acks, 2);
}

TEST(MessageView, DefaultViewIsTheMessageViewForCapturesAndThePacketViewForHex) {
  for (const char* file : {"tsql-language.pcap", "ctlib-cancel.pcap", "tds5.pcap"}) {
    SCOPED_TRACE(file);
    for (const char* format : {"json", "text"}) {
      const std::string path = TestData(std::string("captures/") + file);
      const RunResult plain = RunTdsdecode({"-o", format, "--stats", path});
      const RunResult message = RunTdsdecode({"--view", "message", "-o", format, "--stats", path});
      const RunResult packet = RunTdsdecode({"--view", "packet", "-o", format, "--stats", path});
      ASSERT_EQ(plain.exitCode, 0) << plain.err;
      EXPECT_EQ(plain.out, message.out);
      // The message view's statistics, which the packet view does not have.
      const char* mark = format[0] == 'j' ? "\"message_view\"" : "tokens per token type (";
      EXPECT_TRUE(Contains(plain.out, mark));
      EXPECT_FALSE(Contains(packet.out, mark));
    }
  }
  const std::string hex = "s " + Pkt(4, 1, kDone) + "\n";
  const RunResult plain = RunTdsdecode({"--hex", "-", "-o", "json"}, hex);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out, RunTdsdecode({"--hex", "-", "-o", "json", "--view", "packet"}, hex).out);
  ASSERT_EQ(plain.frames.size(), 1u);
  EXPECT_TRUE(plain.frames[0].contains("packets"));
  EXPECT_FALSE(plain.frames[0].contains("tokens"));
}
