// COLINFO and ORDERBY end to end.
#include "token_packets.h"

using namespace tokenhex;

TEST(ColInfo, EntriesStatusBitsAndNames) {
  const std::vector<json> p =
      Packets(Line("c", "a5 0006 01 01 00 02 01 00") +           // two entries, status 0
                  Line("c", "a5 0009 01 01 20 05 6e616d6531") +  // real name "name1" follows
                  Line("c", "a5 0004 02 01 20 00") +             // an empty real name
                  Line("c", "a5 0006 03 01 24 02 6964") +        // expression with a real name "id"
                  Line("c", "a5 0003 04 02 1c") +                // expression, key, hidden
                  Line("c", "a5 0000 010100") +                  // no entries: the rest is Pad
                  Line("c", "a5 0001 01 01 00 ff") +  // an entry past the length is decoded whole
                  Cut("c", "a5 0003 01 01", 1),       // the frame ends inside the entry
              8);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 6, kBytes},
                      {"Column Number", 11, 1, "decimal", 1, kNoNote},
                      {"Table Number", 12, 1, "decimal", 1},
                      {"Status of current column", 13, 1, "flags", 0, {{"bits", json::array()}}},
                      {"Column Number", 14, 1, "decimal", 2},
                      {"Table Number", 15, 1, "decimal", 1},
                      {"Status of current column", 16, 1, "flags", 0}});

  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 9},
                      {"Column Number", 11, 1, "decimal", 1},
                      {"Table Number", 12, 1, "decimal", 1},
                      {"Status of current column", 13, 1, "flags", 0x20,
                       Bits({"0x20 The real column name is in the next 2 arguments"})},
                      {"Column's Name Length", 14, 1, "decimal", 5, kBytes},
                      {"Column Name", 15, 5, "string", "name1"}});

  ExpectFields(p[2], {{"Length", 9, 2, "decimal", 4},
                      {"Column Number", 11, 1, "decimal", 2},
                      {"Table Number", 12, 1, "decimal", 1},
                      {"Status of current column", 13, 1, "flags", 0x20},
                      {"Column's Name Length", 14, 1, "decimal", 0},
                      {"Column Name", 15, 0, "string", ""}});

  ExpectFields(p[3], {{"Length", 9, 2, "decimal"},
                      {"Column Number", 11, 1, "decimal", 3},
                      {"Table Number", 12, 1, "decimal"},
                      {"Status of current column", 13, 1, "flags", 0x24,
                       Bits({"0x04 Column is the result of an SQL expression",
                             "0x20 The real column name is in the next 2 arguments"})},
                      {"Column's Name Length", 14, 1, "decimal", 2},
                      {"Column Name", 15, 2, "string", "id"}});

  EXPECT_EQ(Key(p[4], 3, "bits"), json::array({"0x04 Column is the result of an SQL expression",
                                               "0x08 The column is part of the row key",
                                               "0x10 This is a hidden column"}));

  ExpectFields(p[5], {{"Length", 9, 2, "decimal", 0}, {"Pad", 11, 3, "none"}});

  ExpectFields(p[6], {{"Length", 9, 2, "decimal", 1},
                      {"Column Number", 11, 1, "decimal"},
                      {"Table Number", 12, 1, "decimal"},
                      {"Status of current column", 13, 1, "flags"},
                      {"Pad", 14, 1, "none"}});

  ExpectFields(p[7], {{"Length", 9, 2, "decimal"},
                      {"Column Number", 11, 1, "decimal"},
                      {"Table Number", 12, 1, "decimal"}});
  EXPECT_EQ(p[7].at("refused")["label"], "Status of current column");
}

TEST(OrderBy, ColumnNumbers) {
  const std::vector<json> p =
      Packets(Line("c", "a9 0002 01 03 fd") +    // columns 1 and 3, then Pad
                  Line("c", "a9 0000") +         // none
                  Line("c", "a9 8000 01") +      // 0x8000 counts as none
                  Cut("c", "a9 0005 01 02", 3),  // more than the frame holds
              4);
  ExpectFields(p[0], {{"No. of columns", 9, 2, "decimal", 2, Note("Columns")},
                      {"Column No.", 11, 1, "decimal", 1, kNoNote},
                      {"Column No.", 12, 1, "decimal", 3},
                      {"Pad", 13, 1, "none"}});
  ExpectFields(p[1], {{"No. of columns", 9, 2, "decimal", 0}});
  ExpectFields(p[2], {{"No. of columns", 9, 2, "decimal", 32768}, {"Pad", 11, 1, "none"}});
  ExpectFields(p[3], {{"No. of columns", 9, 2, "decimal", 5},
                      {"Column No.", 11, 1, "decimal", 1},
                      {"Column No.", 12, 1, "decimal", 2}});
  EXPECT_EQ(p[3].at("refused")["label"], "Column No.");
}
