// RPC with inline parameters and DBRPC end to end, and a real client's DBRPC requests.
#include "token_packets.h"

using namespace tokenhex;

TEST(Rpc, HeadOnlyOptionsAndStatedLength) {
  const std::vector<json> p = Packets(
      Line("c", "e0 0006 03 616263 0000") +      // L = 3 + n: name "abc", no options, no parameter
          Line("c", "e0 0003 00 0001") +         // no name, recompile
          Line("c", "e0 ffff 00 0000 000026") +  // L of 0xFFFF leaves 0xFFFC: no parameter, Pad
          Cut("c", "e0 0003 00 00", 1),          // one options byte in the frame
      4);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 6, kBytes},
                      {"RPC Name Length", 11, 1, "decimal", 3, kBytes},
                      {"RPC Name", 12, 3, "string", "abc"},
                      {"Options", 15, 2, "hex", 0, Note("Options argument is not used")}});
  ExpectFields(p[1],
               {{"Length", 9, 2, "decimal", 3},
                {"RPC Name Length", 11, 1, "decimal", 0},
                {"Options",
                 12,
                 2,
                 "flags",
                 1,
                 {{"bits", json::array({"........ .......1 Recompile the RPC before execution"})},
                  {"note", kAbsent}}}});

  ExpectFields(p[2], {{"Length", 9, 2, "decimal", 65535},
                      {"RPC Name Length", 11, 1, "decimal", 0},
                      {"Options", 12, 2, "hex", 0},
                      {"Pad", 14, 3, "none"}});

  ExpectFields(p[3], {{"Length", 9, 2, "decimal"}, {"RPC Name Length", 11, 1, "decimal"}});
  EXPECT_FALSE(p[3].contains("refused"));
}

TEST(Rpc, ParametersOfEachWidth) {
  const std::vector<json> p =
      Packets(Line("c",
                   "e0 002d 01 70 0000"            // L = 45, name "p", no options
                   "02 4061 03 26 04 04 00000001"  // "@a", both status bits, INTN(4), 4 bytes
                   "00 00 6a 05 0a 02 03 010203"  // nameless DECN(5) precision 10, scale 2, 3 bytes
                   "00 00 23 00000010 00000002 6869"  // TEXT: 4-byte maximum and count, "hi"
                   "00 00 38 0000002a"                // INT4: no length, 4 bytes of value
                   "ff"),                             // past the stated length: Pad
              1);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 45},
                      {"RPC Name Length", 11, 1, "decimal", 1},
                      {"RPC Name", 12, 1, "string", "p"},
                      {"Options", 13, 2, "hex", 0},
                      // INTN
                      {"Param Name Length", 15, 1, "decimal", 2},
                      {"Param Name", 16, 2, "string", "@a"},
                      {"Status", 18, 1, "flags", 3,
                       Bits({".......1 The value of this parameter will be returned to the client",
                             "......1. This indicates that there is no default values for this "
                             "parameter"})},
                      {"Data Type", 19, 1, "hex", 0x26, kNoNote},
                      {"Length of data type", 20, 1, "decimal", 4, kNoNote},
                      {"Param Name Length", 21, 1, "decimal", 4, kBytes},
                      {"Param Data", 22, 4, "string", std::string("\0\0\0\1", 4)},
                      // DECN
                      {"Param Name Length", 26, 1, "decimal", 0},
                      {"Status", 27, 1, "hex", 0, Note("Not used")},
                      {"Data Type", 28, 1, "hex", 0x6a},
                      {"Length of data type", 29, 1, "decimal", 5},
                      {"Precision", 30, 1, "decimal", 10},
                      {"Scale", 31, 1, "decimal", 2},
                      {"Param Name Length", 32, 1, "decimal", 3},
                      {"Param Data", 33, 3, "string"},
                      // TEXT
                      {"Param Name Length", 36, 1, "decimal", 0},
                      {"Status", 37, 1, "hex", 0},
                      {"Data Type", 38, 1, "hex", 0x23},
                      {"Length of data type", 39, 4, "decimal", 16},
                      {"Param Name Length", 43, 4, "decimal", 2},
                      {"Param Data", 47, 2, "string", "hi"},
                      // INT4: the count is a field of size 0, the value its type's size
                      {"Param Name Length", 49, 1, "decimal", 0},
                      {"Status", 50, 1, "hex", 0},
                      {"Data Type", 51, 1, "hex", 0x38},
                      {"Param Name Length", 52, 0, "decimal", 0, kBytes},
                      {"Param Data", 52, 4, "string", std::string("\0\0\0*", 4)},
                      {"Pad", 56, 1, "none"}});
}

TEST(Rpc, StopsAndOverruns) {
  const std::vector<json> p = Packets(
      Line("c", "e0 0008 00 0000 00 00 01 0000") +              // datatype 0x01 has no rule
          Cut("c", "e0 0008 00 0000 00", 3) +                   // no status byte in the frame
          Cut("c", "e0 0009 00 0000 00 00 27 0a 0a 6162", 8) +  // the frame ends inside the data
          // L = 5 runs out inside the parameter: it is decoded whole, then the loop stops
          Line("c", "e0 0005 00 0000 00 00 30 07 00003005"),
      4);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal"},
                      {"RPC Name Length", 11, 1, "decimal"},
                      {"Options", 12, 2, "hex"},
                      {"Param Name Length", 14, 1, "decimal", 0},
                      {"Status", 15, 1, "hex", 0},
                      {"Data Type", 16, 1, "hex", 1}});
  EXPECT_FALSE(p[0].contains("refused"));

  ExpectFields(p[1], {{"Length", 9, 2, "decimal"},
                      {"RPC Name Length", 11, 1, "decimal"},
                      {"Options", 12, 2, "hex"},
                      {"Param Name Length", 14, 1, "decimal"}});
  EXPECT_FALSE(p[1].contains("refused"));

  EXPECT_EQ(p[2].at("refused"), (json{{"label", "Param Data"}, {"size", 10}, {"left", 2}}));
  EXPECT_EQ(Labels(p[2]).back(), "Param Name Length");

  ExpectFields(p[3], {{"Length", 9, 2, "decimal", 5},
                      {"RPC Name Length", 11, 1, "decimal"},
                      {"Options", 12, 2, "hex"},
                      {"Param Name Length", 14, 1, "decimal"},
                      {"Status", 15, 1, "hex"},
                      {"Data Type", 16, 1, "hex", 0x30},
                      {"Param Name Length", 17, 0, "decimal", 0},
                      {"Param Data", 17, 1, "string", "\x07"},
                      {"Pad", 18, 4, "none"}});
}

TEST(DbRpc, NameOptionsAndEarlyEnd) {
  const std::vector<json> p =
      Packets(Line("c", "e6 0003 00 0000 ec00") +  // empty name, no options; what follows is Pad
                  Line("c", "e6 0006 03 616263 0003") +  // "abc", both option bits
                  Cut("c", "e6 0006 03 616263 00", 1),   // one options byte in the frame
              3);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 3},
                      {"RPC Name Length", 11, 1, "decimal", 0},
                      {"Options", 12, 2, "hex", 0, Note("Unused")},
                      {"Pad", 14, 2, "none"}});

  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 6},
                      {"RPC Name Length", 11, 1, "decimal", 3},
                      {"RPC Name", 12, 3, "string", "abc"},
                      {"Options", 15, 2, "flags", 3,
                       Bits({"........ .......1 Recompile the RPC before the execution",
                             "........ ......1. There are parameters associated with this RPC"})}});

  ExpectFields(p[2], {{"Length", 9, 2, "decimal"},
                      {"RPC Name Length", 11, 1, "decimal"},
                      {"RPC Name", 12, 3, "string", "abc"}});
  EXPECT_FALSE(p[2].contains("refused"));
}

// The client sends its parameters as PARAMFMT and PARAMS after the DBRPC, shown as Pad.
TEST(DbRpcCapture, RealClientRequestsDecodeFieldForField) {
  const RunResult run = DecodeCapture("ctlib-rpc.pcap");
  // The length and the options are shown in the connection's byte order: places only.
  ExpectFields(FrameOf(run, 10), {{"Length", 9, 2, "decimal"},
                                  {"RPC Name Length", 11, 1, "decimal", 14},
                                  {"RPC Name", 12, 14, "string", "sp_capture_rpc"},
                                  {"Options", 26, 2, "flags"},
                                  {"Pad", 28, 322, "none"}});
  ExpectFields(FrameOf(run, 14), {{"Length", 9, 2, "decimal"},
                                  {"RPC Name Length", 11, 1, "decimal", 14},
                                  {"RPC Name", 12, 14, "string", "sp_fail_status"},
                                  {"Options", 26, 2, "hex", 0, Note("Unused")}});
}
