// RETURNVALUE: one output parameter, described and valued in the token itself.
#include "engine/emit.h"
#include "tables/results.h"
#include "tokens/datatypes.h"
#include "tokens/decoders.h"
#include "tokens/format_fields.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNameLength = Plain("Param Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Param Name", 0, FF_STRING);
constexpr FieldDef kStatus = Coded("Status", 1, FF_HEX, ReturnValueStatusTable);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
// The value's length is shown under the name length's label, also with size 0 for fixed-size
// types, whose value bytes are then left to the packet's "Pad".
constexpr FieldDef kDataLength = Plain("Param Name Length", 0, FF_DECIMAL, " byte(s)");
constexpr FieldDef kData = Plain("Param Data", 0, FF_STRING);

}  // namespace

TDS_DECODER(DecodeReturnValue) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength)) return -1;
  const int32_t nameLength = ReadValue(cursor, 1);
  if (!Emit(out, kNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kName, nameLength)) return -1;
  if (!Emit(out, kStatus) || !Emit(out, kUserType)) return -1;

  const int16_t width = LengthPrefixWidth(ReadValue(cursor, 1) & 0xFF);
  if (EmitTypeDescription(out, nullptr) == -1) return -1;

  const int16_t dataLength = static_cast<int16_t>(ReadValue(cursor, width));
  if (!Emit(out, kDataLength, width)) return -1;
  if (dataLength > 0 && !Emit(out, kData, dataLength)) return -1;
  return 0;
}
