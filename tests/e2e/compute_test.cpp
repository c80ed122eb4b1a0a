// ALTFMT, ALTNAME and ALTROW end to end: one format per compute id, rows of two compute ids,
// replacement and failure, and a compute result taken from a real capture.
#include "token_packets.h"

using namespace tokenhex;

TEST(ComputeFormat, ShowsOperatorsAndByListAndFilesOneFormatPerComputeId) {
  const std::vector<json> p =
      Packets(Line("s",
                   "a8 0000"   // ALTFMT, Length
                   "0001"      // Compute Clause Id 1
                   "02"        // two operators
                   "4d 01"     // sum of column 1
                   "00000000"  // user type
                   "38"        // TDS_INT4: no length
                   "00"        // locale length 0
                   "52 02"     // maximum of column 2
                   "00000000"
                   "27 1e"    // TDS_VARCHAR, length 30
                   "02 6162"  // locale "ab"
                   "01 01")   // by-list: column 1
                  + Line("s",
                         "a8 0000 0002 01"
                         "4b 03 00000000"  // count of column 3
                         "e1 00001000"     // TDS_LONGBINARY, 4-byte length
                         "00"
                         "00")                               // empty by-list
                  + Line("s", "d3 0001 00000005 03 616263")  // ALTROW of id 1
                  + Line("s", "d3 0002 00000000")            // id 2: length 0, empty data
                  + Line("s", "d3 0003 0102")                // no format for id 3
                  + Line("s", "a8 0004 0001 00 00")          // id 1 again, no operators
                  + Line("s", "d3 0001 ff") + Line("s", "d3 0002 00000001 09"),
              8);
  ExpectFields(p[0], {
                         {"Length", 9, 2, "decimal", 0},
                         {"Compute Clause Id", 11, 2, "decimal", 1},
                         {"No. of Aggregate Operators", 13, 1, "decimal", 2},
                         {"Optype", 14, 1, "hex", 0x4d, Text("Sum Value")},
                         {"Opcol No.", 15, 1, "decimal", 1},
                         {"User Type", 16, 4, "signed", 0},
                         {"Data Type", 20, 1, "hex", 0x38},
                         {"Locale Length", 21, 1, "decimal", 0},
                         {"Optype", 22, 1, "hex", 0x52, Text("Maximum Value")},
                         {"Opcol No.", 23, 1, "decimal", 2},
                         {"User Type", 24, 4, "signed", 0},
                         {"Data Type", 28, 1, "hex", 0x27},
                         {"Length", 29, 1, "decimal", 30, kBytes},
                         {"Locale Length", 30, 1, "decimal", 2},
                         {"Locale Info", 31, 2, "string", "ab"},
                         {"No. of Columns in the by-list", 33, 1, "decimal", 1, Note("Columns")},
                         {"Column Number", 34, 1, "decimal", 1, kNoNote},
                     });
  EXPECT_EQ(Key(p[1], 3, "text"), "Summary Count Value");
  ExpectHas(Field(p[1], 7), {{"label", "Length"}, {"size", 4}, {"value", 4096}});
  EXPECT_EQ(TokenLabels(p[1]).back(), "No. of Columns in the by-list");

  ExpectFields(p[2], {
                         {"Compute Clause Id", 9, 2, "decimal", 1},
                         {"Data", 11, 4, "decimal", 5},
                         {"Data Length", 15, 1, "decimal", 3},
                         {"Data", 16, 3, "dump", "616263"},
                     });
  ExpectFields(p[3], {
                         {"Compute Clause Id", 9, 2, "decimal", 2},
                         {"Data Length", 11, 4, "decimal", 0},
                         {"Data", 15, 0, "dump", ""},
                     });
  ExpectFields(
      p[4], {{"Compute Clause Id", 9, 2, "decimal", 3},
             {"No state information available", 11, 2, "dump", "0102", Note(" byte(s) of data")}});
  EXPECT_EQ(TokenLabels(p[5]), (Names{"Length", "Compute Clause Id", "No. of Aggregate Operators",
                                      "No. of Columns in the by-list"}));
  ExpectFields(p[6], {{"Compute Clause Id", 9, 2, "decimal", 1}, {"Pad", 11, 1, "none"}});
  ExpectFields(p[7], {
                         {"Compute Clause Id", 9, 2, "decimal", 2},
                         {"Data Length", 11, 4, "decimal", 1},
                         {"Data", 15, 1, "dump", "09"},
                     });
}

TEST(ComputeFormat, FailureBeforeFilingLeavesNoFormatForItsId) {
  const std::vector<json> p =
      Packets(Line("s", "a8 0000 0002 01 51 01 00000000 26 04 00 00")     // id 2
                  + Line("s", "a8 0000 0001 01 51 01 00000000 30 00 00")  // id 1
                  + Line("s",
                         "a8 0000 0002 02"
                         "51 01 00000000 38 00"   // minimum
                         "99 02 00000000 24 00")  // unknown operator, 0x24 has no rule
                  + Line("s", "d3 0002 04 00000001") + Line("s", "d3 0001 07"),
              5);
  EXPECT_EQ(TokenLabels(p[2]),
            (Names{"Length", "Compute Clause Id", "No. of Aggregate Operators", "Optype",
                   "Opcol No.", "User Type", "Data Type", "Locale Length", "Optype", "Opcol No.",
                   "User Type", "Data Type"}));
  EXPECT_EQ(Key(p[2], 3, "text"), "Minimum Value");
  EXPECT_EQ(Key(p[2], 8, "text"), "Unknown");
  ExpectFields(p[3], {{"Compute Clause Id", 9, 2, "decimal", 2},
                      {"No state information available", 11, 5, "dump", "0400000001"}});
  ExpectFields(p[4], {{"Compute Clause Id", 9, 2, "decimal", 1}, {"Data", 11, 1, "decimal", 7}});
}

TEST(ComputeNames, NamesRunUntilTheLengthIsUsedUp) {
  const std::vector<json> p = Packets(Line("s", "a7 0009 0001 03 73756d 00 01 78") +
                                          Line("s", "a7 0002 0001 ffff")          // no names
                                          + Line("s", "a7 0003 0001 03 616263"),  // past the length
                                      3);
  ExpectFields(p[0], {
                         {"Length", 9, 2, "decimal", 9},
                         {"Compute Clause Id", 11, 2, "decimal", 1},
                         {"Name Length", 13, 1, "decimal", 3, kBytes},
                         {"Name", 14, 3, "string", "sum"},
                         {"Name Length", 17, 1, "decimal", 0},
                         {"Name Length", 18, 1, "decimal", 1},
                         {"Name", 19, 1, "string", "x"},
                     });
  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 2},
                      {"Compute Clause Id", 11, 2, "decimal", 1},
                      {"Pad", 13, 2, "none"}});
  // The count wraps below 0 and the list reads on until the frame runs out.
  EXPECT_EQ(TokenLabels(p[2]), (Names{"Length", "Compute Clause Id", "Name Length", "Name"}));
  EXPECT_EQ(p[2].at("refused")["label"], "Name Length");
}

// The compute query of tsql-language.pcap (sum and max of salary per department, then a
// count), its ALTFMT and ALTROW tokens byte for byte as captured, each in a type-15 packet.
// The capture is little-endian: the compute ids 1 and 2 read here as 256 and 512, the same
// for format and row, so each row still finds its own format.
TEST(ComputeFormat, ComputeResultFromARealCaptureDecodes) {
  const std::vector<json> p = Packets(
      Line("s", "a817000100024d03000000002604005203000000002604000101") +
          Line("s", "a80d000200014b030000000026040000") + Line("s", "d3010004c43b00000438180000") +
          Line("s", "d30100046c2000000430110000") + Line("s", "d302000405000000"),
      5);
  EXPECT_EQ(TokenLabels(p[0]),
            (Names{"Length", "Compute Clause Id", "No. of Aggregate Operators", "Optype",
                   "Opcol No.", "User Type", "Data Type", "Length", "Locale Length", "Optype",
                   "Opcol No.", "User Type", "Data Type", "Length", "Locale Length",
                   "No. of Columns in the by-list", "Column Number"}));
  EXPECT_EQ(Key(p[0], 3, "text"), "Sum Value");
  EXPECT_EQ(Key(p[0], 9, "text"), "Maximum Value");
  EXPECT_EQ(Key(p[1], 3, "text"), "Summary Count Value");
  ExpectFields(p[2], {
                         {"Compute Clause Id", 9, 2, "decimal", 256},
                         {"Data Length", 11, 1, "decimal", 4},
                         {"Data", 12, 4, "dump", "c43b0000"},
                         {"Data Length", 16, 1, "decimal", 4},
                         {"Data", 17, 4, "dump", "38180000"},
                     });
  ExpectFields(p[3], {
                         {"Compute Clause Id", 9, 2, "decimal", 256},
                         {"Data Length", 11, 1, "decimal", 4},
                         {"Data", 12, 4, "dump", "6c200000"},
                         {"Data Length", 16, 1, "decimal", 4},
                         {"Data", 17, 4, "dump", "30110000"},
                     });
  ExpectFields(p[4], {
                         {"Compute Clause Id", 9, 2, "decimal", 512},
                         {"Data Length", 11, 1, "decimal", 4},
                         {"Data", 12, 4, "dump", "05000000"},
                     });
}
