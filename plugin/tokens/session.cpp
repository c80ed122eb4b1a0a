// LANGUAGE, LOGINACK, LOGOUT, OFFSET and RETURNSTATUS: the short tokens of a session.
#include "engine/emit.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

namespace {

// The LANGUAGE length is least significant byte first on every connection.
constexpr FieldDef kLanguageLength = Plain("Length", 4, FF_DECIMAL, " byte(s)", BO_LSB_FIRST);
constexpr FieldDef kLanguageText = Plain("Language text", 0, FF_DUMP);

constexpr FieldDef kAckLengthMsbFirst = Plain("Length", 2, FF_DECIMAL, " byte(s)", BO_MSB_FIRST);
constexpr FieldDef kAckLengthLsbFirst = Plain("Length", 2, FF_DECIMAL, " byte(s)", BO_LSB_FIRST);
constexpr FieldDef kAckStatus = Coded("Status", 1, FF_DECIMAL, LoginAckStatusTable);
constexpr FieldDef kAckTdsVersion = Plain("TDS Version", 4, FF_VERSION);
constexpr FieldDef kProgramNameLength = Plain("Program name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kProgramName = Plain("Program name", 0, FF_STRING);
constexpr FieldDef kProgramVersion = Plain("Program version", 4, FF_VERSION);

constexpr FieldDef kLogoutOptions = Coded("Options", 1, FF_DECIMAL, LogoutOptionTable);

constexpr FieldDef kKeyword = Coded("Keyword", 2, FF_HEX, OffsetKeywordTable);
constexpr FieldDef kOffset = Plain("Offset", 2, FF_DECIMAL);

constexpr FieldDef kReturnValue = Plain("Value", 4, FF_SIGNED);

// The LOGINACK length follows the server's byte order, which the connection's record (filed
// from the client's login) need not match. Taken most significant byte first, a length that
// still fits the packet is in that order; one that does not is least significant byte first.
// The bytes are taken as they are, whatever order the steering reads are set to.
const FieldDef& LoginAckLength(const uint8_t* at) {
  CPIInteger holder;
  holder.set(at, 2, BO_MSB_FIRST);
  const int32_t msbFirst = holder.get();
  holder.free();
  return msbFirst <= PacketLeft ? kAckLengthMsbFirst : kAckLengthLsbFirst;
}

}  // namespace

TDS_DECODER(DecodeLanguage) {
  Out out{tree, cursor, remaining, offset, parser};
  const int32_t length = ReadValue(cursor, 4, BO_LSB_FIRST);
  if (!Emit(out, kLanguageLength)) return -1;
  // The text is capped by the frame, not by the packet: a packet that claims more than the
  // frame holds keeps the difference in PacketLeft.
  const int32_t size = length < remaining ? length : remaining;
  return Emit(out, kLanguageText, size) ? 0 : -1;
}

TDS_DECODER(DecodeLoginAck) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, LoginAckLength(cursor))) return -1;
  if (!Emit(out, kAckStatus) || !Emit(out, kAckTdsVersion)) return -1;
  const int16_t nameLength = static_cast<int16_t>(ReadValue(cursor, 1));
  if (!Emit(out, kProgramNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kProgramName, nameLength)) return -1;
  return Emit(out, kProgramVersion) ? 0 : -1;
}

TDS_DECODER(DecodeLogout) {
  Out out{tree, cursor, remaining, offset, parser};
  return Emit(out, kLogoutOptions) ? 0 : -1;
}

TDS_DECODER(DecodeOffset) {
  Out out{tree, cursor, remaining, offset, parser};
  return Emit(out, kKeyword) && Emit(out, kOffset) ? 0 : -1;
}

TDS_DECODER(DecodeReturnStatus) {
  Out out{tree, cursor, remaining, offset, parser};
  return Emit(out, kReturnValue) ? 0 : -1;
}
