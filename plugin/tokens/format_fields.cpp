#include "tokens/format_fields.h"

#include "tokens/datatypes.h"

namespace {

constexpr FieldDef kDataType = Plain("Data Type", 1, FF_HEX);
constexpr FieldDef kTypeLength = Plain("Length of data type", 0, FF_DECIMAL);
constexpr FieldDef kPrecision = Plain("Precision", 1, FF_DECIMAL);
constexpr FieldDef kScale = Plain("Scale", 1, FF_DECIMAL);

constexpr FieldDef kFixedData = Plain("Data", 0, FF_DECIMAL);
constexpr FieldDef kDataLength = Plain("Data Length", 0, FF_DECIMAL, " byte(s)");
constexpr FieldDef kVariableData = Plain("Data", 0, FF_DUMP, " byte(s) of data");
constexpr FieldDef kNoState =
    Plain("No state information available", 0, FF_DUMP, " byte(s) of data");

}  // namespace

int32_t EmitTypeDescription(Out& out, FormatRecord* record) {
  const int32_t code = ReadValue(out.cursor, 1) & 0xFF;
  if (record) AppendFormatType(record, static_cast<uint8_t>(code));
  // The datatype byte counts as consumed only once its code is known to have a rule.
  if (!EmitKeep(out, kDataType)) return -1;
  const int16_t width = LengthPrefixWidth(code);
  if (width == -1) return -1;
  ConsumePacket(1);
  if (width != 0 && !Emit(out, kTypeLength, width)) return -1;
  if (IsDecimalType(code) && (!Emit(out, kPrecision) || !Emit(out, kScale))) return -1;
  return 0;
}

int32_t EmitFormattedValues(Out& out, const FormatRecord& record) {
  for (int16_t i = 0; i < record.count; i = static_cast<int16_t>(i + 1)) {
    const int32_t code = record.types[i];
    const int16_t width = LengthPrefixWidth(code);
    if (width == -1) return -1;
    if (width == 0) {
      const int16_t size = FixedDataSize(code);
      if (size == -1 || !Emit(out, kFixedData, size)) return -1;
      continue;
    }
    const int32_t length = ReadValue(out.cursor, width);
    if (!Emit(out, kDataLength, width) || !Emit(out, kVariableData, length)) return -1;
  }
  return 0;
}

int32_t EmitNoStateDump(Out& out) {
  return Emit(out, kNoState, PacketBytesInFrame(out.remaining)) ? 0 : -1;
}
