// Cursor commands end to end: the cursor header and its name form, CURDECLARE, CUROPEN,
// CURCLOSE, CURDELETE, CURFETCH, CURINFO and CURUPDATE, and a real client's cursor traffic.
#include "token_packets.h"

using namespace tokenhex;

namespace {

const std::string kTen = "63757231000000000000";  // "cur1" in a 10-byte name

// "Length" and "Cursor ID", their values checked where given.
std::vector<Want> Ids(json length = nullptr, json id = nullptr, const char* format = "decimal") {
  return {{"Length", 9, 2, "decimal", length, kBytes}, {"Cursor ID", 11, 4, format, id, kNoNote}};
}

}  // namespace

TEST(CursorHeader, CursorIdOrNameThenCloseOptions) {
  const std::vector<json> p = Packets(
      Line("c", "80 0005 00000007 01") +  // CURCLOSE, length 5, cursor 7, deallocate
          Line("c", "80 0009 00000000 04 61626364 00") +  // cursor 0 named "abcd", no options
          Line("c", "80 ffff 00000000 00 01"),            // cursor 0, empty name; a wrong length
      3);
  ExpectFields(p[0], With(Ids(5, 7),
                          {{"Options", 15, 1, "hex", 1, Text("Close and deallocate the cursor")}}));

  ExpectFields(p[1], With(Ids(9, 0), {{"Cursor Name Length", 15, 1, "decimal", 4, kBytes},
                                      {"Cursor Name", 16, 4, "string", "abcd"},
                                      {"Options", 20, 1, "hex", 0, Text("No close options")}}));

  // The token length bounds nothing; a name length of 0 shows no name.
  ExpectFields(p[2], With(Ids(65535, 0), {{"Cursor Name Length", 15, 1, "decimal", 0},
                                          {"Options", 16, 1, "hex", 1}}));
}

TEST(CursorDelete, StatusAndTableName) {
  const std::vector<json> p = Packets(Line("c", "81 0009 00000003 00 02 7431") +  // status 0, "t1"
                                          Line("c", "81 0007 00000003 05 00"),  // status 5, no name
                                      2);
  ExpectFields(p[0], With(Ids(9, 3), {{"Status", 15, 1, "hex", 0, Text("No status")},
                                      {"Table name length", 16, 1, "decimal", 2, kBytes},
                                      {"Table name", 17, 2, "string", "t1"}}));
  ExpectFields(p[1], With(Ids(7, 3), {{"Status", 15, 1, "hex", 5, Text("Unknown")},
                                      {"Table name length", 16, 1, "decimal", 0},
                                      {"Table name", 17, 0, "string", ""}}));
}

TEST(CursorOpen, StatusNoteOrFlagsAndEarlyEnd) {
  const std::vector<json> p =
      Packets(Line("c", "84 0005 00000002 00") +              // status 0
                  Line("c", "84 0005 00000002 01") +          // status 1: data follows
                  Line("c", "84 0005 00000002 02") +          // a bit without a row
                  Cut("c", "84 0005 00000002", 1) +           // the frame ends before the status
                  Line("c", "84 0008 00000000 02 6331 00") +  // cursor "c1" by name
                  Cut("c", "84 0008 00000000 02 6331", 1),  // by name, no status byte in the frame
              6);
  ExpectFields(
      p[0],
      With(Ids(5, 2), {{"Status", 15, 1, "hex", 0, {{"note", "No status"}, {"bits", kAbsent}}}}));
  ExpectFields(p[1],
               With(Ids(), {{"Status",
                             15,
                             1,
                             "flags",
                             1,
                             {{"bits", json::array({".......1 Data follows in another token"})},
                              {"note", kAbsent}}}}));
  EXPECT_EQ(Key(p[2], 2, "bits"), json::array());

  // No status byte: the token ends without a refusal and without "Pad".
  ExpectFields(p[3], Ids());
  EXPECT_FALSE(p[3].contains("refused"));

  ExpectFields(p[4], With(Ids(8, 0), {{"Cursor Name Length", 15, 1, "decimal", 2},
                                      {"Cursor Name", 16, 2, "string", "c1"},
                                      {"Status", 18, 1, "hex", 0}}));
  ExpectFields(p[5], With(Ids(), {{"Cursor Name Length", 15, 1, "decimal"},
                                  {"Cursor Name", 16, 2, "string"}}));
  EXPECT_FALSE(p[5].contains("refused"));
}

TEST(CursorFetch, FetchTypesAndSignedRowNumbers) {
  const std::vector<json> p =
      Packets(Line("c", "82 0005 00000009 01") +               // next row
                  Line("c", "82 0009 00000009 05 0000000a") +  // absolute, row 10
                  Line("c", "82 0009 00000009 06 fffffffd") +  // relative, row -3
                  Line("c", "82 0005 00000009 09 00000001") +  // unknown type: the 4 bytes are Pad
                  Line("c", "82 0008 00000000 02 6331 03"),    // cursor "c1" by name, first row
              5);
  ExpectFields(p[0], With(Ids(5, 9), {{"Cursor fetch type", 15, 1, "decimal", 1,
                                       Text("Return next row from table")}}));
  ExpectFields(p[1], With(Ids(), {{"Cursor fetch type", 15, 1, "decimal", 5,
                                   Text("Return row at position specified in row number")},
                                  {"Row number", 16, 4, "signed", 10, kNoNote}}));
  ExpectFields(p[2], With(Ids(), {{"Cursor fetch type", 15, 1, "decimal", 6,
                                   Text("Return row at current position plus row number")},
                                  {"Row number", 16, 4, "signed", -3}}));
  ExpectFields(p[3], With(Ids(), {{"Cursor fetch type", 15, 1, "decimal", 9, Text("Unknown")},
                                  {"Pad", 16, 4, "none"}}));
  ExpectFields(p[4], With(Ids(nullptr, 0), {{"Cursor Name Length", 15, 1, "decimal", 2},
                                            {"Cursor Name", 16, 2, "string", "c1"},
                                            {"Cursor fetch type", 18, 1, "decimal", 3}}));
}

TEST(CursorInfo, StatusRowCountAndSignedId) {
  const std::vector<json> p = Packets(
      Line("c", "83 000b 00000001 02 0000 00000000") +      // ask status; status 0
          Line("c", "83 000b ffffffff 03 0022 00000004") +  // cursor -1; open, row count 4
          Line("c", "83 000b 00000001 04 0002 00000007") +  // all open cursors; open, count invalid
          Cut("c", "83 000b 00000001 01 00", 5) +           // one status byte left in the frame
          // A real client's "rows per fetch" for a named cursor, status bytes 00 20.
          Line("c", "83 1300 00000000 07 63617063757231 01 0020 04000000"),
      5);
  ExpectFields(p[0], With(Ids(11, 1, "signed"),
                          {{"Command", 15, 1, "decimal", 2, Text("Ask status of a cursor")},
                           {"Status", 16, 2, "hex", 0, Note("The option argument is unused")},
                           {"Row count is not valid", 18, 4, "none", nullptr, kNoNote}}));
  ExpectFields(
      p[1],
      With(Ids(nullptr, -1, "signed"),
           {{"Command", 15, 1, "decimal", 3, Text("Report status of a cursor")},
            {"Status", 16, 2, "flags", 0x22,
             Bits({"......1. Specified cursor is open", "..1..... Rowcount argument is valid"})},
            {"Row count", 18, 4, "signed", 4}}));
  ExpectFields(p[2],
               With(Ids(nullptr, nullptr, "signed"),
                    {{"Command", 15, 1, "decimal", 4, Text("Report status of all open cursors")},
                     {"Status", 16, 2, "flags", 2, Bits({"......1. Specified cursor is open"})},
                     {"Row count is not valid", 18, 4, "none"}}));

  ExpectFields(p[3], With(Ids(nullptr, nullptr, "signed"), {{"Command", 15, 1, "decimal"}}));
  EXPECT_FALSE(p[3].contains("refused"));

  ExpectFields(
      p[4], With(Ids(nullptr, 0, "signed"),
                 {{"Cursor Name Length", 15, 1, "decimal", 7},
                  {"Cursor Name", 16, 7, "string", "capcur1"},
                  {"Command", 23, 1, "decimal", 1, Text("Set the fetch count")},
                  {"Status", 24, 2, "flags", 0x20, Bits({"..1..... Rowcount argument is valid"})},
                  {"Row count", 26, 4, "signed"}}));
}

TEST(CursorUpdate, StatusTableNameAndStatement) {
  const std::vector<json> p = Packets(
      Line("c", "85 0008 00000001 00 00 0000") +  // unused status, all empty
          Line("c",
               "85 0011 00000001 03 02 7431 0007 73657420783d31") +  // both bits, "t1", "set x=1"
          Line("c", "85 0008 00000001 00 00 8000 00") +              // statement length 0x8000
          Cut("c", "85 0008 00000001", 4) +                          // no status byte in the frame
          Line("c", "85 000a 00000000 02 6331 00 00 0000"),          // cursor "c1" by name
      5);
  ExpectFields(p[0],
               With(Ids(8, 1), {{"Status", 15, 1, "hex", 0, Note("Unused")},
                                {"Table name length", 16, 1, "decimal", 0},
                                {"Table name", 17, 0, "string", ""},
                                {"Statement length", 17, 2, "decimal", 0, kBytes},
                                {"Statement", 19, 0, "string", "", Note(" byte(s) of data")}}));
  ExpectFields(p[1], With(Ids(), {{"Status", 15, 1, "flags", 3,
                                   Bits({".......1 Parameters follow",
                                         "......1. Consecutive cursor updates are occuring"})},
                                  {"Table name length", 16, 1, "decimal", 2},
                                  {"Table name", 17, 2, "string", "t1"},
                                  {"Statement length", 19, 2, "decimal", 7},
                                  {"Statement", 21, 7, "string", "set x=1"}}));

  // A negative statement size is the engine's to refuse; the frame stops there.
  ExpectHas(p[2].at("refused"), {{"label", "Statement"}, {"size", -32768}});
  EXPECT_EQ(Labels(p[2]).back(), "Statement length");

  ExpectFields(p[3], Ids());
  EXPECT_FALSE(p[3].contains("refused"));

  ExpectFields(p[4], With(Ids(nullptr, 0), {{"Cursor Name Length", 15, 1, "decimal", 2},
                                            {"Cursor Name", 16, 2, "string", "c1"},
                                            {"Status", 18, 1, "hex", 0},
                                            {"Table name length", 19, 1, "decimal", 0},
                                            {"Table name", 20, 0, "string", ""},
                                            {"Statement length", 20, 2, "decimal", 0},
                                            {"Statement", 22, 0, "string", ""}}));
}

TEST(CursorDeclare, OptionsStatementAndUpdatableColumns) {
  const std::vector<json> p = Packets(
      // length 16, pad, no options, no status, name, statement "exec"
      Line("c", "86 10 00 00 00" + kTen + "04 00 65786563") +
          // read only, followed by parameters, empty statement; the last byte is not a count
          Line("c", "86 10 00 01 01" + kTen + "00 00 02") +
          // updatable, no columns
          Line("c", "86 10 00 02 00" + kTen + "00 00 00") +
          // read only and updatable, statement "ab", columns "id" and ""; one byte after them
          Line("c", "86 10 00 03 00" + kTen + "02 00 6162 02 02 6964 00 ff") +
          // every option bit the table knows, no columns
          Line("c", "86 10 00 0b 00" + kTen + "00 00 00") +
          // the frame ends before the options
          Cut("c", "86 10 00", 20),
      6);
  const std::string name = std::string("cur1") + std::string(6, '\0');
  ExpectFields(p[0], {{"Length", 9, 1, "decimal", 16, kBytes},
                      {"Padding", 10, 1, "none"},
                      {"Options ", 11, 1, "hex", 0, Note("No options associated with this cursor")},
                      {"Status", 12, 1, "hex", 0, Text("No status")},
                      {"Cursor Name", 13, 10, "string", name},
                      {"Statement length", 23, 1, "decimal", 4},
                      {"Padding", 24, 1, "none"},
                      {"Statement ", 25, 4, "string", "exec"}});

  ExpectFields(p[1], {{"Length", 9, 1, "decimal"},
                      {"Padding", 10, 1, "none"},
                      {"Options", 11, 1, "flags", 1, Bits({".......1 Read only"})},
                      {"Status", 12, 1, "hex", 1, Text("Followed by parameters")},
                      {"Cursor Name", 13, 10, "string"},
                      {"Statement length", 23, 1, "decimal", 0},
                      {"Padding", 24, 1, "none"},
                      {"Statement ", 25, 0, "string", ""},
                      {"Pad", 25, 1, "none"}});

  ExpectFields(p[2], {{"Length", 9, 1, "decimal"},
                      {"Padding", 10, 1, "none"},
                      {"Options", 11, 1, "flags", 2, Bits({"......1. Updates can be performed"})},
                      {"Status", 12, 1, "hex"},
                      {"Cursor Name", 13, 10, "string"},
                      {"Statement length", 23, 1, "decimal"},
                      {"Padding", 24, 1, "none"},
                      {"Statement ", 25, 0, "string"},
                      {"No. of Columns", 25, 1, "decimal", 0, Note("Columns")}});

  ExpectFields(p[3], {{"Length", 9, 1, "decimal"},
                      {"Padding", 10, 1, "none"},
                      {"Options", 11, 1, "flags", 3},
                      {"Status", 12, 1, "hex"},
                      {"Cursor Name", 13, 10, "string"},
                      {"Statement length", 23, 1, "decimal", 2},
                      {"Padding", 24, 1, "none"},
                      {"Statement ", 25, 2, "string", "ab"},
                      {"No. of Columns", 27, 1, "decimal", 2},
                      {"Column Name length", 28, 1, "decimal", 2, kBytes},
                      {"Column Name", 29, 2, "string", "id"},
                      {"Column Name length", 31, 1, "decimal", 0},
                      {"Column Name", 32, 0, "string", ""},
                      {"Pad", 32, 1, "none"}});

  EXPECT_EQ(Key(p[4], 2, "bits"),
            json::array({".......1 Read only", "......1. Updates can be performed",
                         "....1... Declared against a dynamically prepared statements"}));

  ExpectFields(p[5], {{"Length", 9, 1, "decimal"}, {"Padding", 10, 1, "none"}});
  EXPECT_FALSE(p[5].contains("refused"));
}

// A real client names its cursors in CUROPEN and CURFETCH, and closes them by id.
TEST(CursorCapture, RealClientCommandsDecodeFieldForField) {
  const RunResult run = DecodeCapture("ctlib-cursor.pcap");

  // 2-byte lengths and the cursor id are shown in the connection's byte order, so only their
  // places are checked.
  ExpectFields(FrameOf(run, 12), With(Ids(nullptr, 0), {{"Cursor Name Length", 15, 1, "decimal", 7},
                                                        {"Cursor Name", 16, 7, "string", "capcur1"},
                                                        {"Cursor fetch type", 23, 1, "decimal", 1,
                                                         Text("Return next row from table")}}));
  ExpectFields(
      FrameOf(run, 20),
      With(Ids(), {{"Options", 15, 1, "hex", 1, Text("Close and deallocate the cursor")}}));
  ExpectFields(FrameOf(run, 24),
               With(Ids(nullptr, 0), {{"Cursor Name Length", 15, 1, "decimal", 7},
                                      {"Cursor Name", 16, 7, "string", "capcur2"},
                                      {"Status", 23, 1, "hex", 0, Note("No status")}}));
}
