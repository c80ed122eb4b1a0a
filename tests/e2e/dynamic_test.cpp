// DYNAMIC end to end, and a real client's prepare, execute and deallocate.
#include "token_packets.h"

using namespace tokenhex;

TEST(Dynamic, TypesStatusIdAndStatement) {
  const std::string select20 = "73656c6563742031206672 6f6d207461626c6578";  // 20 bytes
  std::string long300;
  for (int i = 0; i < 300; ++i) long300 += "5a";
  const std::vector<json> p = Packets(
      Line("c", "e7 001d 01 00 04 73747031 0014" + select20) +  // prepare "stp1"
          Line("c", "e7 0009 02 01 04 73747031 0000 ec0000") +  // execute; parameters follow
          Line("c", "e7 0005 04 00 00 0000") +                  // deallocate, empty id
          Line("c", "e7 0131 08 00 00 012c" + long300) +        // a 300-byte statement
          Line("c", "e7 0005 03 00 00 8000 4142") +             // type 3; length 0x8000
          Cut("c", "e7 0005 01", 4),
      6);  // no status byte in the frame
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 29},
                      {"Type", 11, 1, "hex", 1},
                      {"Status", 12, 1, "hex", 0},
                      {"Id Length", 13, 1, "decimal", 4},
                      {"Id", 14, 4, "string", "stp1"},
                      {"Statement Length", 18, 2, "decimal", 20},
                      {"Statement", 20, 20, "dump", "73656c65637420312066726f6d207461626c6578"}});
  EXPECT_EQ(Key(p[0], 0, "note"), " byte(s)");
  EXPECT_EQ(Key(p[0], 1, "text"), "Prepare statement");
  EXPECT_EQ(Key(p[0], 2, "note"), "No status");
  EXPECT_EQ(Key(p[0], 3, "note"), " byte(s)");
  EXPECT_EQ(Key(p[0], 5, "note"), " byte(s)");
  EXPECT_EQ(Key(p[0], 6, "note"), json());

  ExpectFields(p[1], {{"Length", 9, 2, "decimal"},
                      {"Type", 11, 1, "hex", 2},
                      {"Status", 12, 1, "flags", 1},
                      {"Id Length", 13, 1, "decimal", 4},
                      {"Id", 14, 4, "string", "stp1"},
                      {"Statement Length", 18, 2, "decimal", 0},
                      {"Pad", 20, 3, "none"}});
  EXPECT_EQ(Key(p[1], 1, "text"), "Execute a prepared statement");
  EXPECT_EQ(Key(p[1], 2, "bits"), json::array({".......1 Parameter data stream follows"}));

  ExpectFields(p[2], {{"Length", 9, 2, "decimal"},
                      {"Type", 11, 1, "hex", 4},
                      {"Status", 12, 1, "hex", 0},
                      {"Id Length", 13, 1, "decimal", 0},
                      {"Id", 14, 0, "string", ""},
                      {"Statement Length", 14, 2, "decimal", 0}});

  ExpectFields(p[3], {{"Length", 9, 2, "decimal"},
                      {"Type", 11, 1, "hex", 8},
                      {"Status", 12, 1, "hex"},
                      {"Id Length", 13, 1, "decimal"},
                      {"Id", 14, 0, "string"},
                      {"Statement Length", 14, 2, "decimal", 300},
                      {"Statement", 16, 300, "dump"}});

  ExpectFields(p[4], {{"Length", 9, 2, "decimal"},
                      {"Type", 11, 1, "hex", 3},
                      {"Status", 12, 1, "hex"},
                      {"Id Length", 13, 1, "decimal"},
                      {"Id", 14, 0, "string"},
                      {"Statement Length", 14, 2, "decimal", 32768},
                      {"Pad", 16, 2, "none"}});
  EXPECT_EQ(Key(p[4], 1, "text"), "Unknown");

  ExpectFields(p[5], {{"Length", 9, 2, "decimal"}, {"Type", 11, 1, "hex"}});
  EXPECT_FALSE(p[5].contains("refused"));
}

TEST(DynamicCapture, RealClientExecuteAndDeallocate) {
  const RunResult run =
      RunTdsdecode({TestData("captures/ctlib-dynamic.pcap"), "-o", "json", "--no-reassemble"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Execute with its PARAMFMT and PARAMS after it in the same packet.
  const json execute = FrameOf(run, 12);
  ExpectFields(execute, {{"Length", 9, 2, "decimal"},
                         {"Type", 11, 1, "hex", 2},
                         {"Status", 12, 1, "flags", 1},
                         {"Id Length", 13, 1, "decimal", 7},
                         {"Id", 14, 7, "string", "capdyn1"},
                         {"Statement Length", 21, 2, "decimal", 0},
                         {"Pad", 23, 35, "none"}});
  const json deallocate = FrameOf(run, 20);
  ExpectFields(deallocate, {{"Length", 9, 2, "decimal"},
                            {"Type", 11, 1, "hex", 4},
                            {"Status", 12, 1, "hex", 0},
                            {"Id Length", 13, 1, "decimal", 7},
                            {"Id", 14, 7, "string", "capdyn1"},
                            {"Statement Length", 21, 2, "decimal", 0}});
  EXPECT_EQ(Key(deallocate, 1, "text"), "Deallocate prepared statements");
}
