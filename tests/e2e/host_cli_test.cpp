// The command line and the hex input end to end: numbering of frames and connections, the
// frame built around a hex payload, malformed lines, reassembly of hex frames, usage errors,
// help, version, the plug-in option, statistics and text output.
#include "tdsdecode_runner.h"

using nlohmann::json;

namespace {

const char kLanguage[] = "0f01000e00000000 21 0005000000";  // one packet, 14 bytes

std::string PluginBesideTheProgram() {
  const std::string program = TDSDECODE_PATH;
  return program.substr(0, program.rfind('/')) + "/libsybasetds.so";
}

RunResult HexRun(const std::string& text, std::vector<std::string> extra) {
  const std::string path = WriteTemp("cli.hex", text);
  std::vector<std::string> args = {"--hex", path};
  args.insert(args.end(), extra.begin(), extra.end());
  RunResult r = RunTdsdecode(args);
  std::remove(path.c_str());
  return r;
}

}  // namespace

TEST(HexInput, FramesNumberedByLineConnectionsAndDirectionsAsWritten) {
  const std::string hex = std::string("# a comment\n\n") + "c " + kLanguage + "\n" + "   \n" +
                          "3s 04 01 00 0a 0000 0000 abcd\n" + "#c 00\n" + "s\t" + kLanguage +
                          "\r\n" + "12c 0f01000e000000002100050000 0000\n";
  const RunResult r = DecodeHex(hex);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.frames.size(), 4u) << r.out;
  EXPECT_EQ(Pluck(r.frames, "frame"), json({1, 2, 3, 4}));
  EXPECT_EQ(Pluck(r.frames, "conn"), json({1, 3, 1, 12}));
  EXPECT_EQ(Pluck(r.frames, "dir"), json({"c2s", "s2c", "s2c", "c2s"}));
  // Offsets count from the first TDS byte, whatever the frame built around it.
  EXPECT_EQ((*FindField(r.frames[1]["packets"][0], "Obselete Message Type"))["offset"], 8);
  EXPECT_EQ((*FindField(r.frames[3]["packets"][0], "Length"))["value"], 14);
}

TEST(HexInput, MalformedLinesNameTheLineAndKeepEarlierFrames) {
  struct Case {
    const char* line;
    const char* why;
  };
  for (const Case& c : {Case{"x 0f01", "direction"}, Case{"c 0f0", "odd number of hex digits"},
                        Case{"c 0f0g", "hex digit"}, Case{"0c 00", "connection number"},
                        Case{"99999c 00", "connection number"}, Case{"cs 00", "direction"},
                        Case{"c0f01", "direction"}, Case{"7", "direction"}}) {
    SCOPED_TRACE(c.line);
    const std::string hex = std::string("c ") + kLanguage + "\n# skipped\n\ns " + kLanguage + "\n" +
                            c.line + "\nc " + kLanguage + "\n";
    const RunResult r = HexRun(hex, {"-o", "json"});
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.frames.size(), 2u) << "the frames before the bad line are decoded";
    EXPECT_EQ(r.frames[1]["frame"], 2);
    EXPECT_EQ(r.err.rfind("tdsdecode: " + TempName("cli.hex") + ": line 5: ", 0), 0u) << r.err;
    EXPECT_TRUE(Contains(r.err, c.why));
  }
}

TEST(HexInput, LinesAreReassembledLikeSegmentsUnlessAsCaptured) {
  // One 20-byte packet over two lines, then a packet and the start of the next on one line.
  const std::string hex =
      "c 0f 01 00 14 00 00 00 00 a0 01\n"
      "c 02 03 04 05 06 07 08 09 0a 0b\n"
      "s 04 01 00 0a 00 00 00 00 aa bb  04 01 00 0a\n"
      "s 00 00 00 00 cc dd\n";
  const RunResult r = HexRun(hex, {"-o", "json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.frames.size(), 3u) << r.out;
  EXPECT_EQ(Pluck(r.frames, "frame"), json({2, 3, 4}));
  EXPECT_EQ((*FindField(r.frames[0]["packets"][0], "Length"))["value"], 20);
  EXPECT_FALSE(r.frames[0]["packets"][0].contains("refused"));
  EXPECT_EQ((*FindField(r.frames[1]["packets"][0], "Obselete Message Type"))["value"], "aabb");
  EXPECT_EQ((*FindField(r.frames[2]["packets"][0], "Obselete Message Type"))["value"], "ccdd");
  EXPECT_EQ(DecodeHex(hex).frames.size(), 4u);
}

TEST(HexInput, StandardInputAndAnEmptyPayload) {
  const RunResult r =
      RunTdsdecode({"--hex", "-", "-o", "json"}, std::string("c\nc ") + kLanguage + "\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.frames.size(), 1u) << "a frame without payload is counted, not decoded";
  EXPECT_EQ(r.frames[0]["frame"], 2);
}

TEST(CommandLine, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--bogus"},
      {"-o", "xml", "x.pcap"},
      {"-o"},
      {"-p", "0", "x.pcap"},
      {"--port", "65536", "x.pcap"},
      {"-p", "50a0", "x.pcap"},
      {"--hex", "a.hex", "b.pcap"},
      {"--hex", "a.hex", "--hex", "b.hex"},
      {"--stats=yes", "x.pcap"},
      {"-q"},
      {"-p"},
      {"-p", "1,,2", "a"},
      {"--plugin=", "a"},
  };
  for (const auto& args : bad) {
    const RunResult r = RunTdsdecode(args);
    EXPECT_EQ(r.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("tdsdecode: ", 0), 0u) << r.err;
    EXPECT_TRUE(Contains(r.err.substr(11), ": ")) << "what was wrong, then why";
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(CommandLine, HelpVersionAndPlugin) {
  RunResult r = RunTdsdecode({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Contains(r.out, "Usage: tdsdecode"));
  EXPECT_TRUE(Contains(r.out, "--no-reassemble"));
  EXPECT_EQ(RunTdsdecode({"-h"}).out, r.out);
  r = RunTdsdecode({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("tdsdecode ", 0), 0u);

  const std::string hex = std::string("c ") + kLanguage + "\n";
  r = HexRun(hex, {"-o", "json", "--plugin", "/nonexistent/libnothing.so"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("tdsdecode: /nonexistent/libnothing.so: ", 0), 0u) << r.err;
  EXPECT_TRUE(r.out.empty());
  r = HexRun(hex, {"-o", "json", "--plugin=" + PluginBesideTheProgram()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.frames.size(), 1u);
  // A library without the entry is refused by name.
  const std::string engine =
      PluginBesideTheProgram().substr(0, PluginBesideTheProgram().rfind('/')) + "/libtdsengine.so";
  r = HexRun(hex, {"--plugin", engine});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "sybasetds_parse"));
}

TEST(CommandLine, StatisticsInJsonAndText) {
  const std::string hex = std::string("c ") + kLanguage + "\n" + "s 04 01 000a 0000 0000 abcd\n" +
                          "2c 0f01000a00000000 a0 00 0f01 0010 00000000 2100\n";
  RunResult r = HexRun(hex, {"-o", "json", "--stats", "--no-reassemble"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.frames.size(), 4u);
  // frames_cut_short: the last packet claims 16 bytes of 10.
  ExpectHas(r.frames.back()["stats"], json::parse(R"({"frames_read": 3, "frames_decoded": 3,
      "packets": 4, "connections": 2, "frames_cut_short": 1, "held_bytes_at_end": 0,
      "message_types": [{"code": 4, "text": "Response to a command", "count": 1},
                        {"code": 15, "text": "Normal TDS request or response", "count": 3}]})"));
  const json& first = r.frames.back()["stats"]["first_tokens"];
  ASSERT_EQ(first.size(), 2u);
  ExpectHas(first[0], {{"hex", "0x21"}, {"count", 2}, {"text", "Language Command"}});
  EXPECT_EQ(first[1]["hex"], "0xa0");

  // Reassembled, the short packet is held to the end and handed over as it is.
  r = HexRun(hex, {"-o", "json", "--stats"});
  ASSERT_EQ(r.frames.size(), 5u);
  ExpectHas(r.frames.back()["stats"], {{"held_bytes_at_end", 10}, {"frames_decoded", 4}});
  EXPECT_EQ(r.frames[3]["frame"], 3);

  r = HexRun(hex, {"--stats", "--no-reassemble"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Contains(r.out, "Statistics:\n"));
  EXPECT_TRUE(Contains(r.out, "  TDS packets decoded: 4\n"));
  EXPECT_TRUE(Contains(r.out, "    15 Normal TDS request or response: 3\n"));
  EXPECT_TRUE(Contains(r.out, "    0x21 Language Command: 2\n"));
}

TEST(CommandLine, TextOutputIsTheDefault) {
  const RunResult r = HexRun(std::string("2s ") + kLanguage + "\n", {});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Frame 1: connection 2, server to client, 14 TDS bytes, result 0\n", 0), 0u)
      << r.out;
  EXPECT_TRUE(Contains(r.out, "\n        TDS Message Type: 15 (Normal TDS request or response)\n"));
}
