// The login record end to end: its 44 fields, the byte order it files for the connection, the
// stop at the first refused field, and a real client's login.
#include <cstdio>

#include "token_packets.h"

using namespace tokenhex;

namespace {

constexpr size_t kRecordSize = 564;
constexpr int kHeader = 8;

// A login record with the given names and settings, every other byte zero.
struct LoginRecord {
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kRecordSize, 0);

  LoginRecord& Text(size_t at, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<unsigned char>(text[i]);
    return *this;
  }
  LoginRecord& Byte(size_t at, int value) {
    bytes[at] = static_cast<unsigned char>(value);
    return *this;
  }
  // A login packet: header length = 8 + record + extra, the frame holding `keep` record bytes.
  std::string Packet(int extra = 0, size_t keep = kRecordSize) const {
    char header[24];
    std::snprintf(header, sizeof(header), "0201%04x00000000",
                  static_cast<unsigned>(kHeader + kRecordSize + static_cast<size_t>(extra)));
    std::string hex = header;
    for (size_t i = 0; i < keep; ++i) {
      char byte[3];
      std::snprintf(byte, sizeof(byte), "%02x", bytes[i]);
      hex += byte;
    }
    for (int i = 0; i < extra; ++i) hex += "ee";
    return hex;
  }
};

// Record offsets of the fields the tests set.
constexpr size_t kHostName = 0, kHostNameLength = 30, kUserName = 31, kUserNameLength = 61;
constexpr size_t kTwoByteOrder = 124, kFourByteOrder = 125, kDialogType = 132;
constexpr size_t kAppName = 140, kTdsVersion = 458, kLoginSecure = 514, kBulkSecure = 515;
constexpr size_t kPacketSizeLength = 563;

LoginRecord SampleLogin(int twoByteOrder, int fourByteOrder) {
  LoginRecord r;
  r.Text(kHostName, "client7").Byte(kHostNameLength, 7).Text(kUserName, "sa");
  r.Byte(kUserNameLength, 2).Byte(kTwoByteOrder, twoByteOrder).Byte(kFourByteOrder, fourByteOrder);
  r.Byte(kDialogType, 2).Text(kAppName, "isql").Byte(kLoginSecure, 0x05).Byte(kBulkSecure, 0x01);
  r.Text(kTdsVersion, std::string("\x05\0\0\0", 4)).Byte(kPacketSizeLength, 3);
  return r;
}

// An OFFSET token whose keyword 0x016D and offset 5 read right only in the expected byte order.
std::string OffsetLine(const std::string& dir, bool lsbFirst) {
  return Line(dir, lsbFirst ? "78 6d01 0500" : "78 016d 0005");
}

void ExpectOffsetShownRight(const json& packet) {
  const json* keyword = FindField(packet, "Keyword");
  ASSERT_NE(keyword, nullptr) << packet.dump();
  EXPECT_EQ((*keyword)["value"], 0x16D);
  EXPECT_EQ((*keyword)["text"], "TDS_OFF_SELECT");
  EXPECT_EQ((*FindField(packet, "Offset"))["value"], 5);
}

}  // namespace

TEST(Login, ShowsAll44FieldsOfTheRecord) {
  const json packet = Packets("c " + SampleLogin(3, 1).Packet() + "\n", 1)[0];
  // Six header fields, the record, and no Pad: the record used the whole packet.
  const json& fields = packet["fields"];
  ASSERT_EQ(fields.size(), 6u + 44u) << packet.dump();
  EXPECT_EQ(fields[6]["label"], "Host Name");
  EXPECT_EQ(fields.back()["label"], "Packet Size Length");
  // The fields lie back to back over exactly 564 bytes.
  int at = kHeader;
  for (size_t i = 6; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i]["offset"], at) << fields[i]["label"];
    at += fields[i]["size"].get<int>();
  }
  EXPECT_EQ(at, kHeader + static_cast<int>(kRecordSize));

  ExpectByLabel(
      packet,
      {{"Host Name", {{"value", std::string("client7") + std::string(23, '\0')}}},
       {"Host Name Length", {{"value", 7}, {"note", " byte(s)"}}},
       {"Two Byte Integer Ordering", Text("Least Significant byte is in the low byte")},
       {"Character Encoding", Text("Unknown")},
       {"Dialog Type", Text("Dialog is directly from a server")},
       {"Spare", {{"format", "spare"}}},
       {"TDS Version", {{"value", "5.0.0.0"}}},
       {"Character Set Flag", Text("Client doesn't wants to be notified of character set changes")},
       {"Login Secure Bitmask",
        Bits({".......1 TDS_SEC_LOG_ENCRYPT", ".....1.. TDS_SEC_LOG_LABELS"})},
       {"Bulk Copy Secure Bitmask", Bits({".......1 Bulk Copy Labelled"})}});
}

TEST(Login, FilesTheConnectionsByteOrderOnce) {
  const std::vector<json> p =
      Packets("c " + SampleLogin(3, 1).Packet(3) + "\n" +  // 3 bytes past the record: Pad
                  OffsetLine("c", true) + OffsetLine("s", true) + "c " +
                  SampleLogin(2, 0).Packet() + "\n" +  // a second login does not change the order
                  OffsetLine("c", true) + "2c " + SampleLogin(2, 0).Packet() + "\n" +
                  OffsetLine("2s", false) +
                  // Connection 3: the frame ends inside the remote password pairs, after the order
                  // is filed.
                  "3c " + SampleLogin(3, 0).Packet(0, 260) + "\n" + OffsetLine("3s", true),
              9);
  ExpectHas(p[0].at("fields").back(),
            {{"label", "Pad"}, {"offset", kHeader + static_cast<int>(kRecordSize)}, {"size", 3}});
  for (size_t i : {1u, 2u, 4u, 6u, 8u}) ExpectOffsetShownRight(p[i]);
  EXPECT_EQ(Labels(p[7]).back(), "Server Name Length");
  ExpectHas(p[7].at("refused"), {{"label", "Remote Server Name/Password Pairs"}, {"size", 255}});
}

TEST(Login, FrameEndingBeforeTheOrderingFilesNothing) {
  LoginRecord r = SampleLogin(3, 1);
  const std::vector<json> p =
      Packets("c " + r.Packet(0, 120) + "\n" +  // cut in the process id
                  "c " + SampleLogin(2, 0).Packet() + "\n" + OffsetLine("c", false),
              3);
  EXPECT_EQ(Labels(p[0]).back(), "Passwd Length");
  EXPECT_EQ(p[0].at("refused")["label"], "Process Identifier");
  ExpectOffsetShownRight(p[2]);
}

// A real client sends its record in a 512-byte packet continued by a second one; decoded as
// captured, the record's later fields run on into the second packet's bytes, and the Pad of the
// first packet's wrapped byte count is refused at the end of the frame.
TEST(Login, RealClientLoginDecodesFieldForField) {
  const RunResult run = DecodeCapture("tsql-loginfail.pcap");
  ASSERT_FALSE(run.frames.empty());
  const json& login = run.frames[0];
  EXPECT_EQ(login["dir"], "c2s");
  const json& packet = login["packets"].at(0);
  EXPECT_EQ(packet["summary"], "Sybase TDS: (Login record)");
  // Names and their lengths: the record's fixed-size name fields hold the name, then padding.
  for (const auto& [label, name] : std::vector<std::pair<std::string, std::string>>{
           {"Host Name", "vm"},
           {"User Name", "baduser"},
           {"Application Name", "TSQL"},
           {"Server Name", "fakesyb"},
           {"Client Library Name", "TDS-Librar"},
           {"Requested National Language", "us_english"}}) {
    EXPECT_EQ(FindField(packet, label)->at("value").get<std::string>().substr(0, name.size()),
              name);
  }
  ExpectByLabel(packet, {{"Host Name Length", {{"value", 2}}},
                         {"User Name Length", {{"value", 7}}},
                         {"Application Name Length", {{"value", 4}}},
                         {"Two Byte Integer Ordering", {{"value", 3}}},
                         {"Four Byte Integer Ordering", {{"value", 1}}},
                         {"TDS Version", {{"value", "5.0.0.0"}, {"offset", kHeader + 458}}}});
  const std::vector<std::string> labels = Labels(packet);
  EXPECT_EQ(labels.size(), 6u + 44u);
  EXPECT_EQ(labels.back(), "Packet Size Length");
  EXPECT_EQ(packet["refused"]["label"], "Pad");
  EXPECT_EQ(login["packets"].size(), 1u);
}
