// EVENTNOTICE names an event that fired; MSG is a generic message whose arguments, when it has
// any, follow as a parameter format and parameter values.
#include "engine/emit.h"
#include "tables/messages.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kEventLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kEventNameLength = Plain("Event name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kEventName = Plain("Event name", 0, FF_STRING);

constexpr FieldDef kMsgLength = Plain("Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kMsgStatus = Coded("Status", 1, FF_DECIMAL, MsgStatusTable);
constexpr FieldDef kMessageId = Coded("Message Id", 2, FF_HEX, MsgIdTable);
constexpr FieldDef kTokenType = Coded("TDS Token Type", 1, FF_HEX, TokenTypeTable);

constexpr int32_t kHasArguments = 0x01;

// The arguments of a MSG are tokens of their own, PARAMFMT then PARAMS, each opened by its type
// byte. A type byte that is there is shown as the dispatcher shows one; without it the token's
// body is taken to start at the cursor.
bool SkipTokenType(Out& out, int32_t token) {
  if ((ReadValue(out.cursor, 1) & 0xFF) != token) return true;
  return Emit(out, kTokenType);
}

}  // namespace

TDS_DECODER(DecodeEventNotice) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kEventLength)) return -1;
  const int16_t nameLength = static_cast<int16_t>(ReadValue(cursor, 1));
  if (!Emit(out, kEventNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kEventName, nameLength)) return -1;
  return 0;
}

TDS_DECODER(DecodeMsg) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kMsgLength)) return -1;
  const int32_t status = ReadValue(cursor, 1);
  if (!Emit(out, kMsgStatus) || !Emit(out, kMessageId)) return -1;
  if ((status & kHasArguments) == 0) return 0;
  if (!SkipTokenType(out, 0xEC)) return -1;
  if (DecodeParamFmt(tree, cursor, remaining, offset, parser) == -1) return -1;
  if (!SkipTokenType(out, 0xD7)) return -1;
  return DecodeRowData(tree, cursor, remaining, offset, parser, 0xEC) == -1 ? -1 : 0;
}
