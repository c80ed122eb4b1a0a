// PARAMFMT: the parameter descriptions whose datatype codes are filed for the PARAMS token that
// follows (also inline after a MSG with arguments).
#include "engine/emit.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tables/results.h"
#include "tokens/decoders.h"
#include "tokens/format_fields.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kParams = Plain("No. of Params", 2, FF_DECIMAL);
constexpr FieldDef kNameLength = Plain("Param Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Param Name", 0, FF_STRING);
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, ParamFmtStatusBits, 0xFF000000);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
constexpr FieldDef kLocaleLength = Plain("Locale length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLocale = Plain("Locale Info", 0, FF_STRING);

int32_t DecodeParam(Out& out, FormatRecord* record) {
  const int32_t nameLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kName, nameLength)) return -1;
  if (!Emit(out, kStatus) || !Emit(out, kUserType)) return -1;
  if (EmitTypeDescription(out, record) == -1) return -1;
  const int32_t localeLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kLocaleLength)) return -1;
  if (localeLength > 0 && !Emit(out, kLocale, localeLength)) return -1;
  return 0;
}

int32_t DecodeParams(Out& out, int16_t params, FormatRecord* record) {
  for (int16_t i = 0; i < params; i = static_cast<int16_t>(i + 1)) {
    if (DecodeParam(out, record) == -1) return -1;
  }
  return 0;
}

}  // namespace

TDS_DECODER(DecodeParamFmt) {
  Out out{tree, cursor, remaining, offset, parser};
  const uint32_t key = ConversationKey(0xEC, 0);
  DeleteFormatRecord(key);

  if (!Emit(out, kLength)) return -1;
  const int16_t params = ReadCount(cursor, 2);
  if (!Emit(out, kParams)) return -1;
  FormatRecord* record = NewFormatRecord(params);
  const int32_t result = DecodeParams(out, params, record);
  if (result == -1 || !record) {
    DiscardFormatRecord(record);
    return result;
  }
  FileFormatRecord(key, record);
  return 0;
}
