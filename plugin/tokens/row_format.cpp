// ROWFMT: the column descriptions of a result set. The datatype code of every column is filed
// for the ROW tokens that follow, and those of the key columns for KEY tokens.
#include "engine/emit.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tables/results.h"
#include "tokens/decoders.h"
#include "tokens/format_fields.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumns = Plain("No. of Columns", 2, FF_DECIMAL, "Columns");
constexpr FieldDef kNameLength = Plain("Column name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Column name", 0, FF_STRING);
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, RowFmtStatusBits, 0xFF000000);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
constexpr FieldDef kLocaleLength = Plain("Locale length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLocale = Plain("Locale Info", 0, FF_STRING);

// A key column has the key bit and no other: 0x03 or 0x22 do not count.
constexpr int32_t kKeyStatus = 0x02;

int32_t DecodeColumn(Out& out, FormatRecord* rows, FormatRecord* keys) {
  const int32_t nameLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kName, nameLength)) return -1;
  const int32_t status = ReadValue(out.cursor, 1);
  if (!Emit(out, kStatus) || !Emit(out, kUserType)) return -1;
  if (status == kKeyStatus && keys) {
    AppendFormatType(keys, static_cast<uint8_t>(ReadValue(out.cursor, 1)));
  }
  if (EmitTypeDescription(out, rows) == -1) return -1;
  const int32_t localeLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kLocaleLength)) return -1;
  if (localeLength > 0 && !Emit(out, kLocale, localeLength)) return -1;
  return 0;
}

int32_t DecodeColumns(Out& out, int16_t columns, FormatRecord* rows, FormatRecord* keys) {
  for (int16_t i = 0; i < columns; i = static_cast<int16_t>(i + 1)) {
    if (DecodeColumn(out, rows, keys) == -1) return -1;
  }
  return 0;
}

}  // namespace

TDS_DECODER(DecodeRowFmt) {
  Out out{tree, cursor, remaining, offset, parser};
  // Older formats go first, so that a token failing at its first field leaves none behind.
  const uint32_t rowKey = ConversationKey(0xD1, 0);
  const uint32_t keyKey = ConversationKey(0xCA, 0);
  DeleteFormatRecord(rowKey);
  DeleteFormatRecord(keyKey);

  if (!Emit(out, kLength)) return -1;
  const int16_t columns = ReadCount(cursor, 2);
  if (!Emit(out, kColumns)) return -1;
  // Without memory for the records the columns are still shown; nothing is filed.
  FormatRecord* rows = NewFormatRecord(columns);
  FormatRecord* keys = NewFormatRecord(columns);
  const int32_t result = DecodeColumns(out, columns, rows, keys);
  if (result == -1 || !rows || !keys) {
    DiscardFormatRecord(rows);
    DiscardFormatRecord(keys);
    return result;
  }
  FileFormatRecord(rowKey, rows);
  FileFormatRecord(keyKey, keys);
  return 0;
}
