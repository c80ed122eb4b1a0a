// DYNAMIC end to end, and a real client's prepare, execute and deallocate.
#include "token_packets.h"

using namespace tokenhex;

namespace {

// "Length", "Type", "Status", "Id Length" and "Id" (values checked where given), then `more`.
std::vector<Want> Dynamic(json type, const char* statusFormat, json status, json idLength,
                          const std::string& id, const std::vector<Want>& more,
                          json typeKeys = json::object()) {
  const int n = static_cast<int>(id.size());
  return With({{"Length", 9, 2, "decimal"},
               {"Type", 11, 1, "hex", type, typeKeys},
               {"Status", 12, 1, statusFormat, status},
               {"Id Length", 13, 1, "decimal", idLength},
               {"Id", 14, n, "string", id}},
              more);
}

}  // namespace

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
          Cut("c", "e7 0005 01", 4),                            // no status byte in the frame
      6);
  ExpectFields(
      p[0], {{"Length", 9, 2, "decimal", 29, kBytes},
             {"Type", 11, 1, "hex", 1, Text("Prepare statement")},
             {"Status", 12, 1, "hex", 0, Note("No status")},
             {"Id Length", 13, 1, "decimal", 4, kBytes},
             {"Id", 14, 4, "string", "stp1"},
             {"Statement Length", 18, 2, "decimal", 20, kBytes},
             {"Statement", 20, 20, "dump", "73656c65637420312066726f6d207461626c6578", kNoNote}});
  ExpectFields(p[1], Dynamic(2, "flags", 1, 4, "stp1",
                             {{"Statement Length", 18, 2, "decimal", 0}, {"Pad", 20, 3, "none"}},
                             Text("Execute a prepared statement")));
  EXPECT_EQ(Key(p[1], 2, "bits"), json::array({".......1 Parameter data stream follows"}));
  ExpectFields(p[2], Dynamic(4, "hex", 0, 0, "", {{"Statement Length", 14, 2, "decimal", 0}}));
  ExpectFields(
      p[3], Dynamic(8, "hex", nullptr, nullptr, "",
                    {{"Statement Length", 14, 2, "decimal", 300}, {"Statement", 16, 300, "dump"}}));
  ExpectFields(p[4],
               Dynamic(3, "hex", nullptr, nullptr, "",
                       {{"Statement Length", 14, 2, "decimal", 32768}, {"Pad", 16, 2, "none"}},
                       Text("Unknown")));
  ExpectFields(p[5], {{"Length", 9, 2, "decimal"}, {"Type", 11, 1, "hex"}});
  EXPECT_FALSE(p[5].contains("refused"));
}

TEST(DynamicCapture, RealClientExecuteAndDeallocate) {
  const RunResult run = DecodeCapture("ctlib-dynamic.pcap");
  // Execute with its PARAMFMT and PARAMS after it in the same packet.
  ExpectFields(FrameOf(run, 12),
               Dynamic(2, "flags", 1, 7, "capdyn1",
                       {{"Statement Length", 21, 2, "decimal", 0}, {"Pad", 23, 35, "none"}}));
  ExpectFields(FrameOf(run, 20),
               Dynamic(4, "hex", 0, 7, "capdyn1", {{"Statement Length", 21, 2, "decimal", 0}},
                       Text("Deallocate prepared statements")));
}
