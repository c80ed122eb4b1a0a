// PARAMFMT and PARAMS, RETURNVALUE and TABNAME end to end.
#include "token_packets.h"

using namespace tokenhex;

TEST(ParamFormat, ShowsParametersAndFilesTheirTypesForParams) {
  const std::vector<json> p =
      Packets(Line("s",
                   "ec 0000 0003"    // PARAMFMT, Length, No. of Params 3
                   "02 4070"         // "@p"
                   "28"              // status: by reference and nullable
                   "00000000"        // user type
                   "26 04"           // TDS_INTN, length 4
                   "00"              // locale length
                   "00 00 00000000"  // no name, status 0, user type
                   "6c 05 0a 02"     // TDS_NUMN, length 5, precision 10, scale 2
                   "00"
                   "00 08 00000000"  // status: by reference only
                   "30"              // TDS_INT1: no length
                   "00") +
                  Line("s",
                       "d7"             // PARAMS
                       "04 0000000b"    // TDS_INTN
                       "05 0100000001"  // TDS_NUMN
                       "07"),           // TDS_INT1
              2);
  ExpectFields(p[0], {
                         {"Length", 9, 2, "decimal", 0},
                         {"No. of Params", 11, 2, "decimal", 3, kNoNote},
                         {"Param Name Length", 13, 1, "decimal", 2},
                         {"Param Name", 14, 2, "string", "@p"},
                         {"Status", 16, 1, "flags", 0x28,
                          Bits({"....1... This is a return parameter passed by reference",
                                "..1..... This parameter can be NULL"})},
                         {"User Type", 17, 4, "signed", 0},
                         {"Data Type", 21, 1, "hex", 0x26},
                         {"Length of data type", 22, 1, "decimal", 4},
                         {"Locale length", 23, 1, "decimal", 0},
                         {"Param Name Length", 24, 1, "decimal", 0},
                         {"Status", 25, 1, "flags", 0, {{"bits", json::array()}}},
                         {"User Type", 26, 4, "signed", 0},
                         {"Data Type", 30, 1, "hex", 0x6C},
                         {"Length of data type", 31, 1, "decimal", 5},
                         {"Precision", 32, 1, "decimal", 10},
                         {"Scale", 33, 1, "decimal", 2},
                         {"Locale length", 34, 1, "decimal", 0},
                         {"Param Name Length", 35, 1, "decimal", 0},
                         {"Status", 36, 1, "flags", 8,
                          Bits({"....1... This is a return parameter passed by reference"})},
                         {"User Type", 37, 4, "signed", 0},
                         {"Data Type", 41, 1, "hex", 0x30},
                         {"Locale length", 42, 1, "decimal", 0},
                     });

  ExpectFields(p[1], {
                         {"Data Length", 9, 1, "decimal", 4},
                         {"Data", 10, 4, "dump", "0000000b"},
                         {"Data Length", 14, 1, "decimal", 5},
                         {"Data", 15, 5, "dump", "0100000001"},
                         {"Data", 20, 1, "decimal", 7},
                     });
}

TEST(ParamFormat, EmptyAndFailedFormats) {
  const std::vector<json> p =
      Packets(Line("s", "d7 01") +             // PARAMS before any PARAMFMT
                  Line("s", "ec 0002 0000") +  // no parameters
                  Line("s", "d7 01") +         // nothing of its own
                  Line("s", "ec 000a 0001 00 00 00000000 30 00") +
                  Line("s", "ec 000a 0001 01 78 00 00000000 24 00") +  // 0x24 has no rule
                  Line("s", "d7 01"),
              6);
  for (size_t i : {0u, 5u})
    ExpectFields(p[i], {{"No state information available", 9, 1, "dump", "01"}});
  EXPECT_EQ(TokenLabels(p[1]), (Names{"Length", "No. of Params"}));
  ExpectFields(p[2], {{"Pad", 9, 1, "none"}});
  EXPECT_EQ(TokenLabels(p[4]), (Names{"Length", "No. of Params", "Param Name Length", "Param Name",
                                      "Status", "User Type", "Data Type"}));
}

TEST(ReturnValue, ShowsTheValueAsAStringAfterItsLength) {
  const std::vector<json> p =
      Packets(Line("s",
                   "ac 000d"       // RETURNVALUE, Length
                   "02 4072"       // "@r"
                   "08"            // status: RPC output parameter
                   "00000001"      // user type
                   "26 04"         // TDS_INTN, maximum length 4
                   "04 0000002a")  // data length 4, value
                  + Line("s",
                         "ac 0009 00"   // no name
                         "00 00000000"  // status 0
                         "38"           // TDS_INT4: a data length of size 0, the value left as Pad
                         "0000002a") +
                  Line("s", "ac 0000 00 05 00000000 6a 11 26 04 03 010203")  // status 5, TDS_DECN
                  + Line("s", "ac 0000 00 00 00000000 af 00000100 00000003 616263")  // TDS_LONGCHAR
                  + Line("s", "ac 0000 00 00 00000000 27 1e 00")   // data length 0
                  + Line("s", "ac 0000 00 00 00000000 24 1e 00"),  // no rule
              6);
  ExpectFields(
      p[0],
      {
          {"Length", 9, 2, "decimal", 13},
          {"Param Name Length", 11, 1, "decimal", 2},
          {"Param Name", 12, 2, "string", "@r"},
          {"Status", 14, 1, "hex", 8,
           Text("This indicates that the return value was originally sent to the server as an "
                "output parameter in an RPC")},
          {"User Type", 15, 4, "signed", 1},
          {"Data Type", 19, 1, "hex", 0x26},
          {"Length of data type", 20, 1, "decimal", 4},
          {"Param Name Length", 21, 1, "decimal", 4, kBytes},
          {"Param Data", 22, 4, "string", std::string("\0\0\0*", 4)},
      });
  ExpectFields(p[1], {
                         {"Length", 9, 2, "decimal", 9},
                         {"Param Name Length", 11, 1, "decimal", 0},
                         {"Status", 12, 1, "hex", 0, Text("The status field is not used")},
                         {"User Type", 13, 4, "signed", 0},
                         {"Data Type", 17, 1, "hex", 0x38},
                         {"Param Name Length", 18, 0, "decimal", 0},
                         {"Pad", 18, 4, "none"},
                     });
  EXPECT_EQ(Key(p[2], 2, "text"), "Unknown");
  EXPECT_EQ(TokenLabels(p[2]), (Names{"Length", "Param Name Length", "Status", "User Type",
                                      "Data Type", "Length of data type", "Precision", "Scale",
                                      "Param Name Length", "Param Data"}));
  EXPECT_EQ(Key(p[2], 9, "value"), std::string("\x01\x02\x03"));

  ExpectHas(Field(p[3], 5), {{"size", 4}, {"value", 256}});
  ExpectHas(Field(p[3], 6), {{"size", 4}, {"value", 3}});
  EXPECT_EQ(Key(p[3], 7, "value"), "abc");

  EXPECT_EQ(TokenLabels(p[4]).back(), "Param Name Length");
  EXPECT_EQ(TokenLabels(p[5]).back(), "Data Type");
  EXPECT_EQ(TokenLabels(p[5]).size(), 5u);
}

TEST(TableNames, NamesRunWhileTheLengthLasts) {
  const std::vector<json> p =
      Packets(Line("s", "a4 0009 03 616263 04 64656667") +
                  Line("s", "a4 0005 07 61626364656667")                  // past the length
                  + Line("s", "a4 0003 00 01 61")                         // an empty name
                  + Line("s", "a4 0000 0102") + Line("s", "a4 8000 01"),  // negative length
              5);
  ExpectFields(p[0], {
                         {"Length", 9, 2, "decimal", 9},
                         {"Table name length", 11, 1, "decimal", 3, kBytes},
                         {"Table name", 12, 3, "string", "abc"},
                         {"Table name length", 15, 1, "decimal", 4},
                         {"Table name", 16, 4, "string", "defg"},
                     });
  ExpectFields(p[1], {
                         {"Length", 9, 2, "decimal", 5},
                         {"Table name length", 11, 1, "decimal", 7},
                         {"Table name", 12, 7, "string", "abcdefg"},
                     });
  EXPECT_EQ(TokenLabels(p[2]),
            (Names{"Length", "Table name length", "Table name length", "Table name"}));
  ExpectFields(p[3], {{"Length", 9, 2, "decimal", 0}, {"Pad", 11, 2, "none"}});
  ExpectFields(p[4], {{"Length", 9, 2, "decimal", 0x8000}, {"Pad", 11, 1, "none"}});
}
