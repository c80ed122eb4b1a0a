// The login record of a login packet: 44 fixed fields over 564 bytes. The record also tells
// which byte order the client speaks; that order is filed for the connection so that every
// later packet of it is shown in that order.
#include "tables/login.h"

#include "engine/emit.h"
#include "entry/byte_order.h"
#include "tokens/decoders.h"

namespace {

constexpr uint32_t kLowNibble = 0x0F000000;

// Each fixed-size name is shown over its whole size, followed by the count of its used bytes.
constexpr FieldDef kLoginFields[] = {
    Plain("Host Name", 30, FF_STRING),
    Plain("Host Name Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("User Name", 30, FF_STRING),
    Plain("User Name Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("Client Passwd", 30, FF_STRING),
    Plain("Passwd Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("Process Identifier", 30, FF_STRING),
    Plain("Process Identifier Length", 1, FF_DECIMAL, " byte(s)"),
    Coded("Two Byte Integer Ordering", 1, FF_DECIMAL, Int2OrderTable),
    Coded("Four Byte Integer Ordering", 1, FF_DECIMAL, Int4OrderTable),
    Coded("Character Encoding", 1, FF_DECIMAL, CharEncodingTable),
    Coded("Floating Point Type", 1, FF_DECIMAL, FloatTypeTable),
    Coded("Date Flag", 1, FF_DECIMAL, DateFlagTable),
    Plain("Use DB", 1, FF_DECIMAL),
    Plain("Login dmpld", 1, FF_DECIMAL),
    Plain("Login interface Spare", 1, FF_DECIMAL),
    Coded("Dialog Type", 1, FF_HEX, DialogTypeTable),
    Plain("Login Buffer Size", 4, FF_DUMP),
    Plain("Spare", 3, FF_SPARE),
    Plain("Application Name", 30, FF_STRING),
    Plain("Application Name Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("Server Name", 30, FF_STRING),
    Plain("Server Name Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("Remote Server Name/Password Pairs", 255, FF_DUMP),
    Plain("Remote Server/Passwd Pairs Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("TDS Version", 4, FF_VERSION),
    Plain("Client Library Name", 10, FF_STRING),
    Plain("Client Library Length", 1, FF_DECIMAL, " byte(s)"),
    Plain("Client Library Version", 4, FF_VERSION),
    Coded("Conversion Flag", 1, FF_DECIMAL, ConversionFlagTable),
    Coded("Floating Point Format", 1, FF_DECIMAL, FloatFormatTable),
    Coded("Date Format", 1, FF_DECIMAL, DateFormatTable),
    Plain("Requested National Language", 30, FF_STRING),
    Plain("Language Length", 1, FF_DECIMAL, " byte(s)"),
    Coded("Language Flag", 1, FF_DECIMAL, LanguageFlagTable),
    Plain("Old secure data", 2, FF_STRING),
    Coded("Login Secure Bitmask", 1, FF_FLAGS, LoginSecurityBits, kLowNibble),
    Coded("Bulk Copy Secure Bitmask", 1, FF_FLAGS, BulkCopySecurityBits, kLowNibble),
    Plain("Security Spare Field", 9, FF_STRING),
    Plain("Character Set Name", 30, FF_STRING),
    Plain("Character Set Length", 1, FF_DECIMAL, " byte(s)"),
    Coded("Character Set Flag", 1, FF_DECIMAL, CharsetFlagTable),
    Plain("Packet Size", 6, FF_STRING),
    Plain("Packet Size Length", 1, FF_DECIMAL, " byte(s)"),
};
constexpr size_t kFieldCount = sizeof(kLoginFields) / sizeof(kLoginFields[0]);
static_assert(kFieldCount == 44);

constexpr int32_t RecordSize() {
  int32_t total = 0;
  for (const FieldDef& field : kLoginFields) total += field.size;
  return total;
}
static_assert(RecordSize() == 564);

constexpr size_t kTwoByteOrdering = 8;   // "Two Byte Integer Ordering"
constexpr size_t kFourByteOrdering = 9;  // "Four Byte Integer Ordering"
static_assert(kLoginFields[kTwoByteOrdering].table == Int2OrderTable);
static_assert(kLoginFields[kFourByteOrdering].table == Int4OrderTable);

// Only the two-byte ordering decides: 2 means most significant byte first, anything else
// least significant first. The four-byte ordering byte is shown and ignored.
constexpr int32_t kInt2MsbFirst = 2;

}  // namespace

TDS_DECODER(DecodeLogin) {
  Out out{tree, cursor, remaining, offset, parser};
  int32_t int2Order = 0;
  for (size_t i = 0; i < kFieldCount; ++i) {
    if (i == kTwoByteOrdering) int2Order = ReadValue(cursor, 1);
    if (!Emit(out, kLoginFields[i])) return -1;
    if (i == kFourByteOrdering) {
      StoreByteOrder(tree, int2Order == kInt2MsbFirst ? BO_MSB_FIRST : BO_LSB_FIRST);
    }
  }
  return 0;
}
