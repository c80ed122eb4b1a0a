// ERROR, INFO and EED end to end, with the message tail they share.
#include "token_packets.h"

using namespace tokenhex;

TEST(ErrorInfo, HeadAndTail) {
  const std::vector<json> p =
      Packets(Line("s", "aa 000c 000000d0 01 10 0000 00 00 0001") +  // everything empty: 14 bytes
                  Line("s",
                       "ab 0017 ffffffff 02 0a"  // INFO -1
                       "0005 68656c6c6f"         // "hello"
                       "03 535256 02 7370"       // server "SRV", procedure "sp"
                       "0007 fd00"),             // line 7, then another token: Pad
              2);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 12, kBytes},
                      {"Error number", 11, 4, "signed", 208},
                      {"Error state", 15, 1, "decimal", 1},
                      {"Error class", 16, 1, "decimal", 16},
                      {"Message Length", 17, 2, "decimal", 0, kBytes},
                      {"Server name length", 19, 1, "decimal", 0, kBytes},
                      {"Proc. name length", 20, 1, "decimal", 0, kBytes},
                      {"Line number", 21, 2, "decimal", 1}});

  EXPECT_EQ(TokenLabels(p[1]),
            (Names{"Length", "Info number", "Info state", "Info class", "Message Length",
                   "Info Message", "Server name length", "Server Name", "Proc. name length",
                   "Proc. name", "Line number", "Pad"}));
  EXPECT_EQ(Key(p[1], 1, "value"), -1);
  EXPECT_EQ(Key(p[1], 5, "value"), "hello");
  EXPECT_EQ(Key(p[1], 7, "value"), "SRV");
  EXPECT_EQ(Key(p[1], 9, "value"), "sp");
  EXPECT_EQ(Key(p[1], 10, "value"), 7);
  EXPECT_EQ(Key(p[1], 11, "size"), 2);
}

TEST(ErrorInfo, MessageLengthFrom0x8000CountsAsNone) {
  const std::vector<json> p =
      Packets(Line("s", "aa 0000 00000001 00 00 8000 03 535256 00 0002") +
                  Cut("s", "aa 0000 00000001 00 00 0002 6869 05 5352", 5),  // ends in the name
              2);
  EXPECT_EQ(TokenLabels(p[0]),
            (Names{"Length", "Error number", "Error state", "Error class", "Message Length",
                   "Server name length", "Server Name", "Proc. name length", "Line number"}));
  EXPECT_EQ(Key(p[0], 4, "value"), 0x8000);
  EXPECT_EQ(Key(p[0], 5, "offset"), 19);
  EXPECT_EQ(Key(p[0], 6, "value"), "SRV");

  EXPECT_EQ(TokenLabels(p[1]).back(), "Server name length");
  EXPECT_EQ(Key(p[1], 5, "value"), "hi");
  ExpectHas(p[1].at("refused"), {{"label", "Server Name"}, {"size", 5}});
}

TEST(Eed, ExtendedHeadThenTail) {
  const std::vector<json> p =
      Packets(Line("s",
                   "e5 0000 ffffffff 01 0e"  // unsigned number
                   "05 5a5a5a5a5a"           // SQL state in hexadecimal
                   "01 0002"                 // status, transaction state
                   "0003 6d7367 00 00 0004") +
                  Line("s", "e5 0000 00000fa2 01 0e 00 00 0000 0000 00 00 0004 ee"),  // no state
              2);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 0},
                      {"Message Number", 11, 4, "decimal", 4294967295u},
                      {"Message State", 15, 1, "decimal", 1},
                      {"Class of the message", 16, 1, "decimal", 14},
                      {"SQL state length", 17, 1, "decimal", 5, kBytes},
                      {"SQL state", 18, 5, "hex", "5a5a5a5a5a"},
                      {"Status", 23, 1, "hex", 1, Text("Extended error follows")},
                      {"Transaction", 24, 2, "decimal", 2, Text("Transaction still in progress")},
                      {"Message Length", 26, 2, "decimal", 3},
                      {"Message", 28, 3, "string", "msg"},
                      {"Server name length", 31, 1, "decimal", 0},
                      {"Proc. name length", 32, 1, "decimal", 0},
                      {"Line number", 33, 2, "decimal", 4}});

  EXPECT_EQ(TokenLabels(p[1]).at(5), "Status");
  EXPECT_EQ(Key(p[1], 5, "text"), "No extended error");
  EXPECT_EQ(TokenLabels(p[1]).back(), "Pad");
}
