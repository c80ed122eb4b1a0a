// CUROPEN, CURCLOSE and CURDELETE, and the cursor header they share with CURFETCH, CURINFO and
// CURUPDATE.
#include "tables/cursors.h"

#include "engine/emit.h"
#include "tokens/cursor_header.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kCursorId = Plain("Cursor ID", 4, FF_DECIMAL);
constexpr FieldDef kCursorIdSigned = Plain("Cursor ID", 4, FF_SIGNED);
constexpr FieldDef kNameLength = Plain("Cursor Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Cursor Name", 0, FF_STRING);

constexpr FieldDef kOpenStatusNone = Plain("Status", 1, FF_HEX, "No status");
constexpr FieldDef kOpenStatus = Coded("Status", 1, FF_FLAGS, CurOpenStatusBits, 0xFF000000);
constexpr FieldDef kCloseOptions = Coded("Options", 1, FF_HEX, CurCloseOptionTable);
constexpr FieldDef kDeleteStatus = Coded("Status", 1, FF_HEX, CurDeleteStatusTable);
constexpr FieldDef kTableNameLength = Plain("Table name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kTableName = Plain("Table name", 0, FF_STRING);

}  // namespace

// Clients name the cursor (id 0) until the server has answered with an id, so the name form
// is shown for every cursor command that carries this header.
int32_t DecodeCursorHeader(Out& out, FIELD_FORMAT idFormat) {
  if (!Emit(out, kLength)) return -1;
  const int32_t cursorId = ReadValue(out.cursor, 4);
  if (!Emit(out, idFormat == FF_SIGNED ? kCursorIdSigned : kCursorId)) return -1;
  if (cursorId != 0) return 0;
  const int32_t nameLength = ReadValue(out.cursor, 1);
  if (!Emit(out, kNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kName, nameLength)) return -1;
  return 0;
}

TDS_DECODER(DecodeCurOpen) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_DECIMAL) == -1) return -1;
  if (remaining < 1) return -1;
  const int32_t status = ReadValue(cursor, 1);
  return Emit(out, status == 0 ? kOpenStatusNone : kOpenStatus) ? 0 : -1;
}

TDS_DECODER(DecodeCurClose) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_DECIMAL) == -1) return -1;
  return Emit(out, kCloseOptions) ? 0 : -1;
}

TDS_DECODER(DecodeCurDelete) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeCursorHeader(out, FF_DECIMAL) == -1) return -1;
  if (!Emit(out, kDeleteStatus)) return -1;
  const int32_t tableNameLength = ReadValue(cursor, 1);
  if (!Emit(out, kTableNameLength)) return -1;
  return Emit(out, kTableName, tableNameLength) ? 0 : -1;
}
