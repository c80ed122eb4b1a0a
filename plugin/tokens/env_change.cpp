// ENVCHANGE: the settings the server changed, each entry a type, the new and the old value.
#include "engine/emit.h"
#include "tables/messages.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kType = Coded("Type", 1, FF_DECIMAL, EnvChangeTypeTable);
constexpr FieldDef kNewValueLength = Plain("New value length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNewValue = Plain("New value", 0, FF_STRING);
constexpr FieldDef kOldValueLength = Plain("Old value length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kOldValue = Plain("Old value", 0, FF_STRING);

// A value and its 1-byte length; the bytes taken from the stated length, or -1.
int32_t EmitValue(Out& out, const FieldDef& lengthField, const FieldDef& value) {
  const int16_t length = ReadCount(out.cursor, 1);
  if (!Emit(out, lengthField)) return -1;
  if (length <= 0) return lengthField.size;
  if (!Emit(out, value, length)) return -1;
  return lengthField.size + length;
}

}  // namespace

// Entries run until the stated length is used up. An entry is shown whole even when it runs
// past that length; the loop then ends on a length of 0 or below.
TDS_DECODER(DecodeEnvChange) {
  Out out{tree, cursor, remaining, offset, parser};
  int16_t left = ReadCount(cursor, 2);
  if (!Emit(out, kLength)) return -1;
  while (left > 0) {
    if (!Emit(out, kType)) return -1;
    const int32_t newUsed = EmitValue(out, kNewValueLength, kNewValue);
    if (newUsed == -1) return -1;
    const int32_t oldUsed = EmitValue(out, kOldValueLength, kOldValue);
    if (oldUsed == -1) return -1;
    left = static_cast<int16_t>(left - kType.size - newUsed - oldUsed);
  }
  return 0;
}
