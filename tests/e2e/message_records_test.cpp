// The message view's record of each message end to end: the byte order of a connection (from
// its login, forced by --byte-order, inferred when the login was not captured), the login's
// passwords masked unless --show-passwords, the capture times and frames of a message's first
// and last frame, the connection's ends, and the input's name when several are read.
#include <ctime>

#include "tdsdecode_runner.h"

using json = nlohmann::json;

namespace {

// The records of a classic pcap file's bytes: where each begins.
std::vector<size_t> RecordStarts(const std::string& pcap) {
  EXPECT_EQ(Le32At(pcap, 0), 0xA1B2C3D4u) << "a classic pcap file in microseconds";
  std::vector<size_t> starts;
  for (size_t at = 24; at + 16 <= pcap.size(); at += 16 + Le32At(pcap, at + 8))
    starts.push_back(at);
  return starts;
}

// The capture time of frame `n` (from 1) as "2026-12-06T01:10:25.472008Z".
std::string FrameTime(const std::string& pcap, uint64_t n) {
  const size_t at = RecordStarts(pcap).at(n - 1);
  const std::time_t seconds = Le32At(pcap, at);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%06uZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                Le32At(pcap, at + 4) % 1000000);
  return text;
}

// The capture without its first `drop` frames: the connection is joined after them.
std::string WithoutFirstFrames(const std::string& pcap, size_t drop) {
  const std::vector<size_t> starts = RecordStarts(pcap);
  return pcap.substr(0, 24) + pcap.substr(starts.at(drop));
}

RunResult MessagesOf(const std::string& path, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"-o", "json", path};
  args.insert(args.end(), extra.begin(), extra.end());
  RunResult r = RunTdsdecode(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r;
}

// Records that show a byte order, as [message, byte_order, byte_order_from].
json OrdersShown(const std::vector<json>& records) {
  json shown = json::array();
  for (const json& m : records)
    if (m.contains("byte_order"))
      shown.push_back({m["message"], m["byte_order"], m.value("byte_order_from", "")});
  return shown;
}

const json* LoginMessage(const std::vector<json>& records) {
  for (const json& m : records)
    if (m["type"] == 2 && m["dir"] == "c2s") return &m;
  return nullptr;
}

struct OrderCase {
  const char* file;
  const char* order;
};
const OrderCase kOrderCases[] = {{"vendorclient/language.pcap", "big"},
                                 {"tsql-language.pcap", "little"}};

}  // namespace

TEST(MessageRecords, OrderOfTheLoginAndInferredWithoutIt) {
  for (const OrderCase& c : kOrderCases) {
    SCOPED_TRACE(c.file);
    const std::string path = TestData(std::string("captures/") + c.file);
    const RunResult whole = MessagesOf(path);
    EXPECT_EQ(OrdersShown(whole.frames), json::array({{1, c.order, "login"}}));
    const json* login = LoginMessage(whole.frames);
    ASSERT_NE(login, nullptr);

    // Cut to begin after the login's last frame: the order is found from the tokens.
    const uint64_t loginEnd = (*login)["frame"];
    const std::string cutPath =
        WriteTemp("after_login.pcap", WithoutFirstFrames(ReadFile(path), loginEnd));
    const RunResult cut = MessagesOf(cutPath);
    std::remove(cutPath.c_str());
    ASSERT_FALSE(cut.frames.empty());
    EXPECT_EQ(OrdersShown(cut.frames), json::array({{1, c.order, "inferred"}}));
    // Every message walks as it does with the login: the same tokens, none ended early.
    size_t later = 0;
    while (later < whole.frames.size() && whole.frames[later]["frame"] <= loginEnd) ++later;
    ASSERT_EQ(cut.frames.size(), whole.frames.size() - later);
    for (size_t i = 0; i < cut.frames.size(); ++i) {
      const json& m = cut.frames[i];
      EXPECT_FALSE(m.contains("rest")) << m.dump();
      EXPECT_EQ(m["frame"].get<uint64_t>() + loginEnd, whole.frames[later + i]["frame"]);
      EXPECT_EQ(m["tokens"], whole.frames[later + i]["tokens"]) << m["message"];
    }
  }
}

TEST(MessageRecords, OrderForcedByTheOption) {
  const std::string path = TestData("captures/vendorclient/language.pcap");
  const RunResult login = MessagesOf(path);
  const RunResult big = MessagesOf(path, {"--byte-order", "big"});
  EXPECT_EQ(OrdersShown(big.frames), json::array({{1, "big", "option"}}));
  ASSERT_EQ(big.frames.size(), login.frames.size());
  for (size_t i = 0; i < big.frames.size(); ++i)
    EXPECT_EQ(big.frames[i]["tokens"], login.frames[i]["tokens"]) << i;

  // The wrong order, forced, is kept: lengths read the wrong way overrun their messages.
  const RunResult little = MessagesOf(path, {"--byte-order=little"});
  EXPECT_EQ(OrdersShown(little.frames), json::array({{1, "little", "option"}}));
  int refused = 0;
  for (const json& m : little.frames)
    for (const json& t : m["tokens"]) refused += t.contains("refused") ? 1 : 0;
  EXPECT_GT(refused, 0);

  // Text: the order on the connection's first message line only.
  const RunResult text = RunTdsdecode({"--byte-order", "little", path});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  const size_t firstEnd = text.out.find('\n');
  EXPECT_TRUE(Contains(text.out.substr(0, firstEnd), ", byte order little-endian (option)"));
  EXPECT_EQ(text.out.find("byte order", firstEnd), std::string::npos);
  const RunResult byLogin = RunTdsdecode({path});
  EXPECT_TRUE(
      Contains(byLogin.out.substr(0, byLogin.out.find('\n')), ", byte order big-endian (login)"));

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--byte-order", "middle", path},
        {"--byte-order"},
        {"--rows", "-1", path},
        {"--rows=x", path},
        {"--rows", "", path},
        {"--show-passwords=yes", path}}) {
    const RunResult r = RunTdsdecode(bad);
    EXPECT_EQ(r.exitCode, 2) << ::testing::PrintToString(bad);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(RunTdsdecode({"--rows", "5", "--requests", path}).exitCode, 0);
}

TEST(MessageRecords, PasswordsMaskedUnlessAsked) {
  const std::string path = TestData("captures/vendorclient/language.pcap");
  for (bool show : {false, true}) {
    SCOPED_TRACE(show);
    const RunResult r = MessagesOf(
        path, show ? std::vector<std::string>{"--show-passwords"} : std::vector<std::string>{});
    const json* login = LoginMessage(r.frames);
    ASSERT_NE(login, nullptr);
    const json* password = FindField((*login)["tokens"][0], "Client Passwd");
    ASSERT_NE(password, nullptr);
    const std::string value = (*password)["value"];
    if (show)
      EXPECT_EQ(value.substr(0, 7), std::string("secret\0", 7));
    else
      EXPECT_EQ(value, "********");
  }
  const RunResult text = RunTdsdecode({path});
  EXPECT_TRUE(Contains(text.out, "Client Passwd: \"********\""));
  EXPECT_FALSE(Contains(text.out, "secret"));
}

TEST(MessageRecords, FramesTimesAndEndsOfEveryMessage) {
  const std::string path = TestData("captures/vendorclient/language.pcap");
  const std::string pcap = ReadFile(path);
  const RunResult r = MessagesOf(path);
  ASSERT_FALSE(r.frames.empty());
  bool spanned = false;
  for (const json& m : r.frames) {
    ExpectHas(m, {{"client", "127.0.0.1:34590"}, {"server", "127.0.0.1:5000"}, {"file", kAbsent}});
    const uint64_t first = m.at("first_frame");
    const uint64_t last = m.at("frame");
    EXPECT_LE(first, last);
    spanned = spanned || first < last;
    EXPECT_EQ(m.at("first_time"), FrameTime(pcap, first));
    EXPECT_EQ(m.at("last_time"), FrameTime(pcap, last));
  }
  EXPECT_TRUE(spanned) << "the login's two packets come in two frames";

  // A packet over two segments: the message's first frame is the one with its first byte.
  // Hex input has no capture times: frame N is at N milliseconds.
  const RunResult hex =
      RunTdsdecode({"--hex", "-", "--view", "message", "-o", "json"},
                   "c 0f 01 00 0e 00 00\nc 00 00 21 00 05 00\nc 00 00\nc 0f01000e00000000\n"
                   "c 2100050000\n");
  ASSERT_EQ(hex.exitCode, 0) << hex.err;
  ASSERT_EQ(hex.frames.size(), 2u) << hex.out;
  ExpectHas(hex.frames[0], {{"first_frame", 1},
                            {"frame", 3},
                            {"first_time", "1970-01-01T00:00:00.001000Z"},
                            {"last_time", "1970-01-01T00:00:00.003000Z"},
                            {"client", "192.0.2.1:40001"},
                            {"server", "198.51.100.1:5000"}});
  ExpectHas(hex.frames[1], {{"first_frame", 4}, {"frame", 5}, {"byte_order", kAbsent}});

  // Text: the connection's ends and the frames on the message line.
  const RunResult text = RunTdsdecode({path});
  EXPECT_TRUE(
      Contains(text.out,
               "Message 1: connection 1 (client 127.0.0.1:34590, server "
               "127.0.0.1:5000), client to server, message type 2 (Login record), 2 packets, "
               "599 bytes, frames 4 to 6, " +
                   FrameTime(pcap, 4) + " to " + FrameTime(pcap, 6) + ", "));
}

TEST(MessageRecords, SeveralInputsNameTheirFile) {
  const std::string a = TestData("captures/vendorclient/language.pcap");
  const std::string b = TestData("captures/tsql-language.pcap");
  const RunResult one = MessagesOf(b);
  const RunResult both = RunTdsdecode({"-o", "json", a, b});
  ASSERT_EQ(both.exitCode, 0) << both.err;
  const json files = Pluck(both.frames, "file");
  ASSERT_GT(files.size(), one.frames.size());
  const size_t fromA = files.size() - one.frames.size();
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i], i < fromA ? a : b) << i;
  // Numbers restart with each input, and each input's connections show their order again.
  EXPECT_EQ(both.frames[fromA]["message"], 1);
  EXPECT_EQ(OrdersShown(both.frames), json::array({{1, "big", "login"}, {1, "little", "login"}}));
  const RunResult text = RunTdsdecode({a, b});
  EXPECT_TRUE(Contains(text.out, ", file " + b + "\n"));
}
