// CURDECLARE: unlike the other cursor commands it has no cursor id, a fixed-size name, and its
// two 2-byte lengths are shown as one length byte and one pad byte each.
#include "engine/emit.h"
#include "tables/cursors.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kPadding = Plain("Padding", 1, FF_NONE);
constexpr FieldDef kOptionsNone =
    Plain("Options ", 1, FF_HEX, "No options associated with this cursor");
constexpr FieldDef kOptions = Coded("Options", 1, FF_FLAGS, CurDeclareOptionBits, 0xFF000000);
constexpr FieldDef kStatus = Coded("Status", 1, FF_HEX, CurDeclareStatusTable);
constexpr FieldDef kCursorName = Plain("Cursor Name", 10, FF_STRING);
constexpr FieldDef kStatementLength = Plain("Statement length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatement = Plain("Statement ", 0, FF_STRING);
constexpr FieldDef kColumnCount = Plain("No. of Columns", 1, FF_DECIMAL, "Columns");
constexpr FieldDef kColumnNameLength = Plain("Column Name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumnName = Plain("Column Name", 0, FF_STRING);

constexpr int32_t kUpdatable = 0x02;

}  // namespace

TDS_DECODER(DecodeCurDeclare) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength) || !Emit(out, kPadding)) return -1;
  if (remaining < 1) return -1;
  const int32_t options = ReadValue(cursor, 1);
  if (!Emit(out, options == 0 ? kOptionsNone : kOptions)) return -1;
  if (!Emit(out, kStatus) || !Emit(out, kCursorName)) return -1;
  const int32_t statementLength = ReadValue(cursor, 1);
  if (!Emit(out, kStatementLength) || !Emit(out, kPadding)) return -1;
  if (!Emit(out, kStatement, statementLength)) return -1;
  if ((options & kUpdatable) == 0) return 0;

  const int32_t columns = ReadValue(cursor, 1);
  if (!Emit(out, kColumnCount)) return -1;
  for (int32_t i = 0; i < columns; ++i) {
    const int32_t nameLength = ReadValue(cursor, 1);
    if (!Emit(out, kColumnNameLength) || !Emit(out, kColumnName, nameLength)) return -1;
  }
  return 0;
}
