// CURFETCH, CURINFO and CURUPDATE: the cursor header, then each command's own fields.
#include "engine/emit.h"
#include "tables/cursors.h"
#include "tokens/cursor_header.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kFetchType = Coded("Cursor fetch type", 1, FF_DECIMAL, CurFetchTypeTable);
constexpr FieldDef kRowNumber = Plain("Row number", 4, FF_SIGNED);

constexpr FieldDef kInfoCommand = Coded("Command", 1, FF_DECIMAL, CurInfoCommandTable);
constexpr FieldDef kInfoStatusNone = Plain("Status", 2, FF_HEX, "The option argument is unused");
constexpr FieldDef kInfoStatus = Coded("Status", 2, FF_FLAGS, CurInfoStatusBits, 0xFFFF0000);
constexpr FieldDef kRowCount = Plain("Row count", 4, FF_SIGNED);
constexpr FieldDef kRowCountInvalid = Plain("Row count is not valid", 4, FF_NONE);

constexpr FieldDef kUpdateStatusNone = Plain("Status", 1, FF_HEX, "Unused");
constexpr FieldDef kUpdateStatus = Coded("Status", 1, FF_FLAGS, CurUpdateStatusBits, 0xFF000000);
constexpr FieldDef kTableNameLength = Plain("Table name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kTableName = Plain("Table name", 0, FF_STRING);
constexpr FieldDef kStatementLength = Plain("Statement length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatement = Plain("Statement", 0, FF_STRING, " byte(s) of data");

constexpr int32_t kFetchAbsolute = 5;
constexpr int32_t kFetchRelative = 6;
constexpr int32_t kRowCountValid = 0x20;

}  // namespace

TDS_DECODER(DecodeCurFetch) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_DECIMAL) == -1) return -1;
  const int16_t fetchType = static_cast<int16_t>(ReadValue(cursor, 1));
  if (!Emit(out, kFetchType)) return -1;
  if (fetchType != kFetchAbsolute && fetchType != kFetchRelative) return 0;
  return Emit(out, kRowNumber) ? 0 : -1;
}

TDS_DECODER(DecodeCurInfo) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_SIGNED) == -1) return -1;
  if (!Emit(out, kInfoCommand)) return -1;
  if (remaining < 2) return -1;
  const int16_t status = static_cast<int16_t>(ReadValue(cursor, 2));
  if (!Emit(out, status == 0 ? kInfoStatusNone : kInfoStatus)) return -1;
  return Emit(out, (status & kRowCountValid) != 0 ? kRowCount : kRowCountInvalid) ? 0 : -1;
}

TDS_DECODER(DecodeCurUpdate) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_DECIMAL) == -1) return -1;
  if (remaining < 1) return -1;
  const int32_t status = ReadValue(cursor, 1);
  if (!Emit(out, status == 0 ? kUpdateStatusNone : kUpdateStatus)) return -1;
  const int32_t tableNameLength = ReadValue(cursor, 1);
  if (!Emit(out, kTableNameLength) || !Emit(out, kTableName, tableNameLength)) return -1;
  // A length of 0x8000 or more is a negative size, which the engine refuses.
  const int16_t statementLength = ReadCount(cursor, 2);
  if (!Emit(out, kStatementLength)) return -1;
  return Emit(out, kStatement, statementLength) ? 0 : -1;
}
