// ROW, KEY and PARAMS end to end: every datatype class laid out by a filed format, the dump
// without a format, and a result set taken from a real capture.
#include "token_packets.h"

using namespace tokenhex;

namespace {

// A nameless, localeless column of the given type description.
std::string Column(const std::string& type) {
  return "00 00 00000000 " + type + " 00";
}

}  // namespace

TEST(RowData, EveryDatatypeClassIsLaidOutByItsRule) {
  const std::string format = "ee 0000 0010" + Column("30") + Column("32") + Column("34") +
                             Column("38") + Column("3a") + Column("3b") + Column("7a") +
                             Column("3c") + Column("3d") + Column("3e") + Column("26 04") +
                             Column("6f 08") + Column("6a 11 26 04") + Column("27 1e") +
                             Column("23 00001000") + Column("e1 00001000");
  const std::string row =
      "d1"
      "ff"                // TDS_INT1
      "01"                // TDS_BIT
      "0102"              // TDS_INT2
      "01020304"          // TDS_INT4
      "00000005"          // TDS_SHORTDATE
      "3f800000"          // TDS_FLT4: shown as its bytes' decimal
      "00000006"          // TDS_SHORTMONEY
      "0000000000000007"  // TDS_MONEY
      "0000000100000002"  // TDS_DATETIME
      "3ff0000000000000"  // TDS_FLT8
      "04 0000002a"       // TDS_INTN
      "00"                // TDS_DATETIMEN, length 0: an empty dump
      "05 0100000001"     // TDS_DECN
      "02 6869"           // TDS_VARCHAR
      "00000003 616263"   // TDS_TEXT: 4-byte length
      "00000000";         // TDS_LONGBINARY, length 0
  const std::vector<json> p = Packets(Line("s", format) + Line("s", row) + Line("s", row), 3);
  EXPECT_EQ(Key(p[0], 1, "value"), 16);

  const std::vector<Want> values = {
      {"Data", 9, 1, "decimal", 255},
      {"Data", 10, 1, "decimal", 1},
      {"Data", 11, 2, "decimal", 0x0102},
      {"Data", 13, 4, "decimal", 0x01020304},
      {"Data", 17, 4, "decimal", 5},
      {"Data", 21, 4, "decimal", 0x3f800000},
      {"Data", 25, 4, "decimal", 6},
      {"Data", 29, 8, "decimal", 7},
      {"Data", 37, 8, "decimal", 0x0000000100000002ull},
      {"Data", 45, 8, "decimal", 0x3ff0000000000000ull},
      {"Data Length", 53, 1, "decimal", 4},
      {"Data", 54, 4, "dump", "0000002a"},
      {"Data Length", 58, 1, "decimal", 0},
      {"Data", 59, 0, "dump", ""},
      {"Data Length", 59, 1, "decimal", 5},
      {"Data", 60, 5, "dump", "0100000001"},
      {"Data Length", 65, 1, "decimal", 2},
      {"Data", 66, 2, "dump", "6869"},
      {"Data Length", 68, 4, "decimal", 3},
      {"Data", 72, 3, "dump", "616263"},
      {"Data Length", 75, 4, "decimal", 0},
      {"Data", 79, 0, "dump", ""},
  };
  // Both rows are read with the one format, which stays filed.
  ExpectFields(p[1], values);
  ExpectFields(p[2], values);
}

TEST(RowData, WithoutAFormatThePacketsBytesInTheFrameAreDumped) {
  // The header announces 20 bytes after the token type; the frame holds 12 of them.
  RunResult run;
  const json p = Packets(Cut("s", "d1 000102030405060708090a0b", 8), 1, &run)[0];
  ExpectFields(p, {{"No state information available", 9, 12, "dump", "000102030405060708090a0b"}});
  // The 8 bytes left of the packet are asked for as Pad, which the frame no longer holds.
  EXPECT_EQ(p["refused"], (json{{"label", "Pad"}, {"size", 8}, {"left", 0}}));
  EXPECT_EQ(run.frames.at(0)["result"], 0);
}

TEST(RowData, ParameterAndRowFormatsDoNotDisturbEachOther) {
  const std::vector<json> p =
      Packets(Line("s", "ee 000a 0001" + Column("38"))        // row format: TDS_INT4
                  + Line("s", "ec 000a 0001" + Column("30"))  // parameter format: TDS_INT1
                  + Line("s", "d7 2a") + Line("s", "d1 0000002b") +
                  Line("s", "ec 000a 0001" + Column("34"))  // a new parameter format
                  + Line("s", "d1 0000002c") + Line("s", "d7 002d") +
                  Line("s", "ee 000a 0001" + Column("30"))  // a new row format
                  + Line("s", "d7 002e") + Line("s", "ca 00"),
              10);
  ExpectFields(p[2], {{"Data", 9, 1, "decimal", 0x2a}});
  ExpectFields(p[3], {{"Data", 9, 4, "decimal", 0x2b}});
  ExpectFields(p[5], {{"Data", 9, 4, "decimal", 0x2c}});
  ExpectFields(p[6], {{"Data", 9, 2, "decimal", 0x2d}});
  ExpectFields(p[8], {{"Data", 9, 2, "decimal", 0x2e}});
  // The row format had no key column: KEY shows nothing, its byte is Pad.
  ExpectFields(p[9], {{"Pad", 9, 1, "none"}});
}

// The first result of tsql-language.pcap: a 20-column table of every classic type. The server
// sent ROWFMT and ROW in one type-4 message; here each token is a type-15 packet of its own.
// The capture is little-endian, and this view reads counts most significant byte first, so the
// ROWFMT's length and column count are written here as 0108 and 0014 (captured: 0801 1400);
// every other byte is as captured.
TEST(RowData, ResultSetFromARealCaptureDecodesColumnByColumn) {
  const std::string rowFormat =
      "ee 0108 0014"
      "026964000000000038000474696e790000000000300005736d616c6c00000000003400046e696e74200000"
      "0000260400046e616d652000000000271e0004636f646500000000002f0a000362696e00000000002d0800"
      "047662696e2000000000251000076372656174656400000000003d0005736461746500000000003a000364"
      "746e20000000006f080005707269636500000000003c0006736d6f6e657900000000007a00066d6f6e6579"
      "6e20000000006e080005726174696f00000000003e0002663400000000003b0004666c746e20000000006d"
      "080006616d6f756e7420000000006c060a020005646563313820000000006a0912040004666c6167000000"
      "00003200";
  const std::string row =
      "d1e8030000000000047011010007616c7068612d300a4330303020202020202008deadbeef000001020100"
      "34b10000e008ad00e9b09f050834b10000a06eff000000000015cd5b0728b8fcff08000000000000000018"
      "2d4454fb2109400000003f08000000e8764807c20601000001e2400900000008fb8fd986e200";
  const std::vector<json> p = Packets(Line("s", rowFormat) + Line("s", row), 2);
  const json& fmt = p[0];
  Names names;
  std::vector<int> types;
  for (const json& f : fmt["fields"]) {
    if (f["label"] == "Column name") names.push_back(f["value"]);
    if (f["label"] == "Data Type") types.push_back(f["value"]);
  }
  EXPECT_EQ(names, (Names{"id",    "tiny",    "small", "nint",   "name",  "code",   "bin",
                          "vbin",  "created", "sdate", "dtn",    "price", "smoney", "moneyn",
                          "ratio", "f4",      "fltn",  "amount", "dec18", "flag"}));
  EXPECT_EQ(types, (std::vector<int>{0x38, 0x30, 0x34, 0x26, 0x27, 0x2f, 0x2d, 0x25, 0x3d, 0x3a,
                                     0x6f, 0x3c, 0x7a, 0x6e, 0x3e, 0x3b, 0x6d, 0x6c, 0x6a, 0x32}));
  EXPECT_FALSE(fmt.contains("refused"));
  EXPECT_EQ(fmt["fields"].back()["label"], "Locale length");  // the token fills its packet

  // Fixed-size values in this view's byte order, variable ones as dumps.
  ExpectFields(p[1], {
                         {"Data", 9, 4, "decimal", 0xe8030000u},  // id 1000
                         {"Data", 13, 1, "decimal", 0},
                         {"Data", 14, 2, "decimal", 0},
                         {"Data Length", 16, 1, "decimal", 4},
                         {"Data", 17, 4, "dump", "70110100"},  // nint 70000
                         {"Data Length", 21, 1, "decimal", 7},
                         {"Data", 22, 7, "dump", "616c7068612d30"},  // "alpha-0"
                         {"Data Length", 29, 1, "decimal", 10},
                         {"Data", 30, 10, "dump", "43303030202020202020"},
                         {"Data Length", 40, 1, "decimal", 8},
                         {"Data", 41, 8, "dump", "deadbeef00000102"},
                         {"Data Length", 49, 1, "decimal", 1},
                         {"Data", 50, 1, "dump", "00"},
                         {"Data", 51, 8, "decimal", 0x34b10000e008ad00ull},
                         {"Data", 59, 4, "decimal", 0xe9b09f05u},
                         {"Data Length", 63, 1, "decimal", 8},
                         {"Data", 64, 8, "dump", "34b10000a06eff00"},
                         {"Data", 72, 8, "decimal", 0x0000000015cd5b07ull},
                         {"Data", 80, 4, "decimal", 0x28b8fcffu},
                         {"Data Length", 84, 1, "decimal", 8},
                         {"Data", 85, 8, "dump", "0000000000000000"},
                         {"Data", 93, 8, "decimal", 0x182d4454fb210940ull},
                         {"Data", 101, 4, "decimal", 0x0000003fu},
                         {"Data Length", 105, 1, "decimal", 8},
                         {"Data", 106, 8, "dump", "000000e8764807c2"},
                         {"Data Length", 114, 1, "decimal", 6},
                         {"Data", 115, 6, "dump", "01000001e240"},  // numeric(10,2)
                         {"Data Length", 121, 1, "decimal", 9},
                         {"Data", 122, 9, "dump", "00000008fb8fd986e2"},  // decimal(18,4)
                         {"Data", 131, 1, "decimal", 0},                  // bit
                     });
}
