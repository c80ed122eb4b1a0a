// EVENTNOTICE and MSG end to end, with a MSG's arguments decoded inline.
#include "token_packets.h"

using namespace tokenhex;

TEST(EventNotice, ShowsTheEventName) {
  const std::vector<json> p = Packets(Line("s", "a2 0006 05 6576656e74") +
                                          Line("s", "a2 0001 00 ffff"),  // no name; the rest is Pad
                                      2);
  ExpectFields(p[0], {{"Length", 9, 2, "decimal", 6, kBytes},
                      {"Event name Length", 11, 1, "decimal", 5, kBytes},
                      {"Event name", 12, 5, "string", "event"}});
  ExpectFields(p[1], {{"Length", 9, 2, "decimal", 1},
                      {"Event name Length", 11, 1, "decimal", 0},
                      {"Pad", 12, 2, "none"}});
}

TEST(GenericMessage, ShowsStatusAndMessageId) {
  const std::vector<std::pair<std::string, std::string>> ids = {
      {"0004", "TDS_MSG_SEC_CHALLENGE"},    {"2000", "Reserved for CS/I implementation"},
      {"8000", "Reserved by application"},  {"0000", "Unknown"},
      {"0008", "TDS_MSG_SQL_TBLNAME"},      {"0009", "TDS_MSG_GW_RESERVED"},
      {"000a", "TDS_MSG_OMNI_CAPABILITIES"}};
  std::string hex;
  for (const auto& [id, text] : ids)
    hex += Line("c", "65 03 00 " + id + (hex.empty() ? " ffff" : ""));
  const std::vector<json> p = Packets(hex, ids.size());
  ExpectFields(p[0], {{"Length", 9, 1, "decimal", 3, kBytes},
                      {"Status", 10, 1, "decimal", 0, Text("No arguments follows")},
                      {"Message Id", 11, 2, "hex", 4, Text("TDS_MSG_SEC_CHALLENGE")},
                      {"Pad", 13, 2, "none"}});
  for (size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(Key(p[i], 2, "text"), ids[i].second) << i;
}

TEST(GenericMessage, ArgumentsAreAParameterFormatAndValues) {
  const std::vector<json> p =
      Packets(Line("s",
                   "65 03 01 0001"                      // MSG with arguments, TDS_MSG_SEC_ENCRYPT
                   "ec 000a 0001 00 00 00000000 30 00"  // PARAMFMT: one TDS_INT1
                   "d7 2a"                              // PARAMS
                   "fd00")                              // the rest: Pad
                  + Line("s", "d7 07")                  // a later PARAMS uses the message's format
                  + Line("s",
                         "65 03 03 0002"                   // status 3: Unknown, bit 0 set
                         "000a 0001 00 00 00000000 38 00"  // a format without its token type byte
                         "0000002a")                       // values without theirs
                  + Line("s", "65 03 01 0001 ec 000a 0001 00 00 00000000 24 00 d7 2a")  // no rule
                  + Line("s", "d7 07"),
              5);
  ExpectFields(p[0], {{"Length", 9, 1, "decimal", 3},
                      {"Status", 10, 1, "decimal", 1, Text("Arguments follows this message")},
                      {"Message Id", 11, 2, "hex", 1, Text("TDS_MSG_SEC_ENCRYPT")},
                      {"TDS Token Type", 13, 1, "hex", 0xEC, Text("Description of Parameter Data")},
                      {"Length", 14, 2, "decimal", 10},
                      {"No. of Params", 16, 2, "decimal", 1},
                      {"Param Name Length", 18, 1, "decimal", 0},
                      {"Status", 19, 1, "flags", 0},
                      {"User Type", 20, 4, "signed", 0},
                      {"Data Type", 24, 1, "hex", 0x30},
                      {"Locale length", 25, 1, "decimal", 0},
                      {"TDS Token Type", 26, 1, "hex", 0xD7, Text("Parameter Data")},
                      {"Data", 27, 1, "decimal", 42},
                      {"Pad", 28, 2, "none"}});
  ExpectFields(p[1], {{"Data", 9, 1, "decimal", 7}});

  EXPECT_EQ(Key(p[2], 1, "text"), "Unknown");
  EXPECT_EQ(TokenLabels(p[2]),
            (Names{"Length", "Status", "Message Id", "Length", "No. of Params", "Param Name Length",
                   "Status", "User Type", "Data Type", "Locale length", "Data"}));
  EXPECT_EQ(Key(p[2], 10, "value"), 42);

  // A format that fails stops the message: no values, no Pad, and no format afterwards.
  EXPECT_EQ(TokenLabels(p[3]).back(), "Data Type");
  ExpectFields(p[4], {{"No state information available", 9, 1, "dump", "07"}});
}
