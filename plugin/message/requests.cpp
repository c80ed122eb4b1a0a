// Requests as real clients send them: LANGUAGE with its status byte, DBRPC and DBRPC2,
// OPTIONCMD with arguments framed by their stated length.
#include "tables/requests.h"

#include "message/message_token.h"
#include "tables/real_layouts.h"

namespace {

constexpr FieldDef kLength2 = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength4 = Plain("Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLanguageStatus = Coded("Status", 1, FF_HEX, LanguageStatusTable);
constexpr FieldDef kLanguageText = Plain("Language text", 0, FF_STRING);
constexpr FieldDef kRpcNameLength = Plain("RPC Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kRpcNameLength2 = Plain("RPC Name Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kRpcName = Plain("RPC Name", 0, FF_STRING);
constexpr FieldDef kRpcOptions =
    Coded("Options", 2, FF_FLAGS, DbRpcOptionBitsReal.rows, 0xFFFF0000);
constexpr FieldDef kCommand = Coded("Command", 1, FF_DECIMAL, OptionCommandTable);
constexpr FieldDef kOption = Coded("Option", 1, FF_DECIMAL, OptionTableReal.rows);
constexpr FieldDef kArgumentLength = Plain("Option Argument Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kArgument1 = Plain("Argument", 1, FF_DECIMAL);
constexpr FieldDef kArgument4 = Plain("Argument", 4, FF_DECIMAL);
constexpr FieldDef kArgumentText = Plain("Argument", 0, FF_STRING);

// Clients write a name over 255 characters with the right token length but only the low byte
// of the name's length: when the length the token leaves for the name (after its length byte and
// the options) is over 255 and has that low byte, the name takes it.
int32_t NameSizeOf(uint32_t tokenLength, uint32_t nameByte) {
  constexpr uint32_t kAroundName = 3;  // the name's length byte, the options
  if (tokenLength < kAroundName) return static_cast<int32_t>(nameByte);
  const uint32_t left = tokenLength - kAroundName;
  return static_cast<int32_t>(left > 0xFF && (left & 0xFF) == nameByte ? left : nameByte);
}

}  // namespace

// The length counts the status byte; the rest is the statement.
int32_t DecodeLanguageReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  const int32_t length = static_cast<int32_t>(Peek(t, out, 4));
  if (!Emit(out, kLength4) || !Emit(out, kLanguageStatus)) return -1;
  if (length > 1 && !EmitText(t, out, kLanguageText, length - 1)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

int32_t DecodeDbRpcReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  const uint32_t length = Peek(t, out, 2);
  if (!Emit(out, kLength2)) return -1;
  const int32_t n = NameSizeOf(length, Peek(t, out, 1));
  if (!Emit(out, kRpcNameLength) || (n > 0 && !EmitText(t, out, kRpcName, n))) return -1;
  if (out.remaining >= 2 && !Emit(out, kRpcOptions)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// DBRPC2: the name takes a 2-byte length.
int32_t DecodeDbRpc2(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength2)) return -1;
  const int32_t n = static_cast<int32_t>(Peek(t, out, 2));
  if (!Emit(out, kRpcNameLength2) || (n > 0 && !EmitText(t, out, kRpcName, n))) return -1;
  if (out.remaining >= 2 && !Emit(out, kRpcOptions)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// The argument is exactly its stated length: 1 byte a flag or an enumeration, 4 an integer in
// the connection's order, anything else text.
int32_t DecodeOptionCmdReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength2) || !Emit(out, kCommand) || !Emit(out, kOption)) return -1;
  const int32_t n = static_cast<int32_t>(Peek(t, out, 1));
  if (!Emit(out, kArgumentLength)) return -1;
  bool shown = true;
  if (n == 1)
    shown = Emit(out, kArgument1);
  else if (n == 4)
    shown = Emit(out, kArgument4);
  else if (n > 0)
    shown = EmitText(t, out, kArgumentText, n);
  if (!shown) return -1;
  return static_cast<int32_t>(out.cursor - start);
}
