// ROWFMT end to end: column descriptions, the row and key formats it files, and the ROW and KEY
// tokens of later frames of the same connection read with them.
#include "token_packets.h"

using namespace tokenhex;

namespace {

const std::string kFourColumns =
    "ee"           // ROWFMT
    "0031"         // Length 49
    "0004"         // No. of Columns 4
    "02 6964"      // "id": name length 2, name
    "02"           // status: key
    "00000007"     // user type 7
    "38"           // TDS_INT4: no length
    "00"           // locale length 0
    "00"           // no name
    "20"           // status: nulls allowed
    "ffffffff"     // user type -1
    "27 1e"        // TDS_VARCHAR, maximum length 30
    "03 616263"    // locale "abc"
    "01 74"        // "t"
    "03"           // status: hidden and key, so not a key column
    "00000000"     // user type 0
    "af 00000800"  // TDS_LONGCHAR, 4-byte maximum length 2048
    "00"           // locale length 0
    "01 6e"        // "n"
    "02"           // status: key
    "00000000"     // user type 0
    "6c 11 26 04"  // TDS_NUMN, length 17, precision 38, scale 4
    "00"           // locale length 0
    "fd00";        // bytes after the token: Pad

}  // namespace

TEST(RowFormat, ShowsEveryColumnFieldAndFilesRowAndKeyFormats) {
  const std::vector<json> p = Packets(Line("s", kFourColumns) +
                                          Line("s",
                                               "d1"              // ROW
                                               "00000005"        // id: 4-byte decimal
                                               "03 616263"       // varchar: length, dump
                                               "00000002 6869"   // longchar: 4-byte length, dump
                                               "05 0102030405")  // numeric: length, dump
                                          + Line("s",
                                                 "ca"                  // KEY: the status-2 columns
                                                 "00000009"            // id
                                                 "02 0102")            // numeric
                                          + Line("c", "d1 00000005"),  // the client's own key
                                      4);
  ExpectFields(
      p[0],
      {{"Length", 9, 2, "decimal", 49, kBytes},
       {"No. of Columns", 11, 2, "decimal", 4, Note("Columns")},
       {"Column name length", 13, 1, "decimal", 2, kBytes},
       {"Column name", 14, 2, "string", "id", kNoNote},
       {"Status", 16, 1, "flags", 2,
        Bits({".......0 This is not a hidden column", "......1. This column is a key",
              ".....0.. Not part of version key for a row", "...0.... This column is not updatable",
              "..0..... This column doesn't allows nulls",
              ".0...... This column is not an identity column", "0....... Column was not paddes"})},
       {"User Type", 17, 4, "signed", 7},
       {"Data Type", 21, 1, "hex", 0x38},
       {"Locale length", 22, 1, "decimal", 0},
       {"Column name length", 23, 1, "decimal", 0},
       {"Status", 24, 1, "flags", 0x20},
       {"User Type", 25, 4, "signed", -1},
       {"Data Type", 29, 1, "hex", 0x27},
       {"Length of data type", 30, 1, "decimal", 30, kNoNote},
       {"Locale length", 31, 1, "decimal", 3, kBytes},
       {"Locale Info", 32, 3, "string", "abc"},
       {"Column name length", 35, 1, "decimal", 1},
       {"Column name", 36, 1, "string", "t"},
       {"Status", 37, 1, "flags", 3},
       {"User Type", 38, 4, "signed", 0},
       {"Data Type", 42, 1, "hex", 0xAF},
       {"Length of data type", 43, 4, "decimal", 2048},
       {"Locale length", 47, 1, "decimal", 0},
       {"Column name length", 48, 1, "decimal", 1},
       {"Column name", 49, 1, "string", "n"},
       {"Status", 50, 1, "flags", 2},
       {"User Type", 51, 4, "signed", 0},
       {"Data Type", 55, 1, "hex", 0x6C},
       {"Length of data type", 56, 1, "decimal", 17},
       {"Precision", 57, 1, "decimal", 38},
       {"Scale", 58, 1, "decimal", 4},
       {"Locale length", 59, 1, "decimal", 0},
       {"Pad", 60, 2, "none"}});
  EXPECT_EQ(Key(p[0], 9, "bits")[4], "..1..... This column allows nulls");
  EXPECT_EQ(Key(p[0], 17, "bits")[0], ".......1 This is a hidden column");

  ExpectFields(p[1], {{"Data", 9, 4, "decimal", 5, kNoNote},
                      {"Data Length", 13, 1, "decimal", 3, kBytes},
                      {"Data", 14, 3, "dump", "616263", Note(" byte(s) of data")},
                      {"Data Length", 17, 4, "decimal", 2},
                      {"Data", 21, 2, "dump", "6869"},
                      {"Data Length", 23, 1, "decimal", 5},
                      {"Data", 24, 5, "dump", "0102030405"}});
  ExpectFields(p[2], {{"Data", 9, 4, "decimal", 9},
                      {"Data Length", 13, 1, "decimal", 2},
                      {"Data", 14, 2, "dump", "0102"}});
  ExpectFields(p[3], {{"No state information available", 9, 4, "dump", "00000005",
                       Note(" byte(s) of data")}});
}

TEST(RowFormat, LaterFormatReplacesEarlierAndAFailedOneLeavesNone) {
  const std::string intColumn = "ee 000a 0001 00 00 00000000 38 00";   // one TDS_INT4 column
  const std::string tinyColumn = "ee 000a 0001 00 00 00000000 30 00";  // one TDS_INT1 column
  RunResult run;
  const std::vector<json> p = Packets(Line("s", intColumn) + Line("s", "d1 0000002a") +
                                          Line("s", tinyColumn) + Line("s", "d1 2a000000") +
                                          Line("s",
                                               "ee 0014 0002"
                                               "00 00 00000000 30 00"      // a TDS_INT1 column
                                               "01 78 00 00000000 24 00")  // 0x24 has no rule
                                          + Line("s", "d1 2a") + Line("s", "ca 2a") +
                                          Line("s", "ee 0002 0000")  // no columns
                                          + Line("s", "d1 0102") + Line("s", "ca") +
                                          Cut("s", "ee 00", 10)  // the frame ends inside "Length"
                                          + Line("s", "d1 00"),
                                      12, &run);
  ExpectFields(p[1], {{"Data", 9, 4, "decimal", 42}});
  ExpectFields(p[3], {{"Data", 9, 1, "decimal", 42}, {"Pad", 10, 3, "none"}});

  // The second column's description ends at its datatype; no Pad follows the refusal of -1.
  EXPECT_EQ(TokenLabels(p[4]),
            (Names{"Length", "No. of Columns", "Column name length", "Status", "User Type",
                   "Data Type", "Locale length", "Column name length", "Column name", "Status",
                   "User Type", "Data Type"}));
  EXPECT_EQ(Key(p[4], 11, "value"), 0x24);
  EXPECT_EQ(run.frames.at(4)["result"], 0);
  for (size_t i : {5u, 6u})
    ExpectFields(p[i], {{"No state information available", 9, 1, "dump", "2a"}});

  // No columns: both formats are filed empty; ROW and KEY show nothing of their own.
  EXPECT_EQ(TokenLabels(p[7]), (Names{"Length", "No. of Columns"}));
  ExpectFields(p[8], {{"Pad", 9, 2, "none"}});
  ExpectFields(p[9], {});

  // A format token refused at its first field has already dropped the older formats.
  EXPECT_TRUE(TokenLabels(p[10]).empty());
  EXPECT_EQ(p[10].at("refused")["label"], "Length");
  ExpectFields(p[11], {{"No state information available", 9, 1, "dump", "00"}});
}

TEST(RowFormat, FormatsAreKeptPerConnectionAndChannel) {
  RunResult run;
  const std::vector<json> p =
      Packets(Line("s", "ee 000a 0001 00 00 00000000 38 00")         // conn 1: TDS_INT4
                  + Line("2s", "ee 000a 0001 00 00 00000000 30 00")  // conn 2: TDS_INT1
                  + Line("s", "d1 00000001", 1)  // channel 1: ORed into 0xD1, the same key
                  + Line("2s", "d1 07") + Line("s", "d1 00000001", 2)  // channel 2: another key
                  + Line("3s", "d1 00000001"),
              6, &run);
  EXPECT_EQ(run.frames.at(3)["conn"], 2);
  ExpectFields(p[2], {{"Data", 9, 4, "decimal", 1}});
  ExpectFields(p[3], {{"Data", 9, 1, "decimal", 7}});
  for (size_t i : {4u, 5u})
    ExpectFields(p[i], {{"No state information available", 9, 4, "dump", "00000001"}});
}

TEST(RowFormat, TokenLengthBoundsNothingAndNegativeCountReadsNoColumns) {
  const std::vector<json> p =
      Packets(Line("s", "ee 0001 0001 00 00 00000000 38 00")                 // Length 1
                  + Line("s", "d1 00000003") + Line("s", "ee 0002 8000 01")  // count 0x8000: none
                  + Line("s", "d1 00000003"),
              4);
  EXPECT_EQ(TokenLabels(p[0]).size(), 7u);
  ExpectFields(p[1], {{"Data", 9, 4, "decimal", 3}});
  ExpectFields(p[2], {{"Length", 9, 2, "decimal", 2},
                      {"No. of Columns", 11, 2, "decimal", 0x8000},
                      {"Pad", 13, 1, "none"}});
  ExpectFields(p[3], {{"Pad", 9, 4, "none"}});
}
