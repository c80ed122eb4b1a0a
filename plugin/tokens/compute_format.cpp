// ALTFMT: the aggregate operators and by-list of one compute clause. The operators' datatype
// codes are filed per compute id for the ALTROW tokens of that clause.
#include "engine/emit.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tables/compute.h"
#include "tokens/compute_fields.h"
#include "tokens/datatypes.h"
#include "tokens/decoders.h"

namespace {

using namespace compute_fields;

constexpr FieldDef kDataType = Plain("Data Type", 1, FF_HEX);
constexpr FieldDef kTypeLength = Plain("Length", 0, FF_DECIMAL, " byte(s)");

int32_t DecodeOperator(Out& out, FormatRecord* record) {
  if (!Emit(out, kOpType) || !Emit(out, kOpColumn) || !Emit(out, kUserType)) return -1;
  const int32_t code = ReadValue(out.cursor, 1) & 0xFF;
  if (record) AppendFormatType(record, static_cast<uint8_t>(code));
  if (!EmitKeep(out, kDataType)) return -1;
  const int16_t width = LengthPrefixWidth(code);
  if (width == -1) return -1;
  ConsumePacket(1);
  if (width != 0 && !Emit(out, kTypeLength, width)) return -1;
  const int32_t localeLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kLocaleLength)) return -1;
  if (localeLength > 0 && !Emit(out, kLocale, localeLength)) return -1;
  return 0;
}

int32_t DecodeOperators(Out& out, int32_t operators, FormatRecord* record) {
  for (uint16_t left = static_cast<uint16_t>(operators); left != 0;
       left = static_cast<uint16_t>(left - 1)) {
    if (DecodeOperator(out, record) == -1) return -1;
  }
  return 0;
}

}  // namespace

TDS_DECODER(DecodeAltFmt) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength)) return -1;
  const int16_t computeId = ReadCount(cursor, 2);
  if (!Emit(out, kComputeId)) return -1;
  // The older format of this clause goes before anything else is read, so that a token failing
  // later leaves none behind.
  const uint32_t key = ConversationKey(0xA8, computeId);
  DeleteFormatRecord(key);

  const int32_t operators = ReadValue(cursor, 1);
  if (!Emit(out, kOperators)) return -1;
  FormatRecord* record = NewFormatRecord(operators);
  if (DecodeOperators(out, operators, record) == -1) {
    DiscardFormatRecord(record);
    return -1;
  }
  FileFormatRecord(key, record);

  const int32_t byColumns = ReadValue(cursor, 1);
  if (!Emit(out, kByColumns)) return -1;
  for (uint16_t left = static_cast<uint16_t>(byColumns); left != 0;
       left = static_cast<uint16_t>(left - 1)) {
    if (!Emit(out, kByColumn)) return -1;
  }
  return 0;
}
