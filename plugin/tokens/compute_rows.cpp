// ALTNAME names the columns of a compute clause; ALTROW carries one row of its values, laid out
// by the format filed for its compute id.
#include "engine/emit.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tokens/decoders.h"
#include "tokens/format_fields.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kComputeId = Plain("Compute Clause Id", 2, FF_DECIMAL);
constexpr FieldDef kNameLength = Plain("Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Name", 0, FF_STRING);

}  // namespace

TDS_DECODER(DecodeAltName) {
  Out out{tree, cursor, remaining, offset, parser};
  uint16_t left = static_cast<uint16_t>(ReadValue(cursor, 2));
  if (!Emit(out, kLength) || !Emit(out, kComputeId)) return -1;
  left = static_cast<uint16_t>(left - 2);
  // Names running past the length wrap the count; the list then goes on until it comes back to
  // 0 or the frame runs out.
  while (left != 0) {
    const int32_t nameLength = ReadValue(cursor, 1);
    if (!Emit(out, kNameLength)) return -1;
    left = static_cast<uint16_t>(left - 1);
    if (nameLength > 0) {
      if (!Emit(out, kName, nameLength)) return -1;
      left = static_cast<uint16_t>(left - nameLength);
    }
  }
  return 0;
}

TDS_DECODER(DecodeAltRow) {
  Out out{tree, cursor, remaining, offset, parser};
  const int16_t computeId = ReadCount(cursor, 2);
  if (!Emit(out, kComputeId)) return -1;
  // Filed by ALTFMT under its own code, not ALTROW's.
  const FormatRecord* record = FindFormatRecord(ConversationKey(0xA8, computeId));
  if (!record) return EmitNoStateDump(out);
  return EmitFormattedValues(out, *record);
}
