// Cursor declarations and cursor information as real clients and servers send them.
#include "tables/cursors.h"

#include "message/message_token.h"
#include "tables/real_layouts.h"

namespace {

constexpr FieldDef kLength2 = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength4 = Plain("Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNameLength = Plain("Cursor Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Cursor Name", 0, FF_STRING);
constexpr FieldDef kOptions1 = Coded("Options", 1, FF_FLAGS, CurDeclareOptionBits, 0xFF000000);
constexpr FieldDef kOptions4 = Coded("Options", 4, FF_FLAGS, CursorOptionBits4);
constexpr FieldDef kDeclareStatus = Coded("Status", 1, FF_HEX, CurDeclareStatusTable);
constexpr FieldDef kStatementLength2 = Plain("Statement length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatementLength4 = Plain("Statement length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatement = Plain("Statement", 0, FF_STRING);
constexpr FieldDef kColumns1 = Plain("No. of Columns", 1, FF_DECIMAL, "Columns");
constexpr FieldDef kColumns2 = Plain("No. of Columns", 2, FF_DECIMAL, "Columns");
constexpr FieldDef kColumnNameLength = Plain("Column Name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumnName = Plain("Column Name", 0, FF_STRING);
constexpr FieldDef kUpdateColumns = Plain("Update columns", 0, FF_DUMP, " byte(s) of data");
constexpr FieldDef kCursorId = Plain("Cursor ID", 4, FF_DECIMAL);
constexpr FieldDef kCommand = Coded("Command", 1, FF_DECIMAL, CurInfoCommandTable);
constexpr FieldDef kStatus2 = Coded("Status", 2, FF_FLAGS, CurInfoStatusBitsReal.rows, 0xFFFF0000);
// A client library sends its status most significant byte first on any connection.
constexpr FieldDef kClientStatus2{
    "Status",   2,       FF_FLAGS,    CurInfoStatusBitsReal.rows, Rows(CurInfoStatusBitsReal.rows),
    0xFFFF0000, nullptr, BO_MSB_FIRST};
constexpr FieldDef kStatus4 = Coded("Status", 4, FF_FLAGS, CursorStatusBits4);
constexpr FieldDef kRowCount = Plain("Row count", 4, FF_SIGNED);
constexpr FieldDef kCurrentRow = Plain("Current row", 4, FF_SIGNED);
constexpr FieldDef kTotalRows = Plain("Total rows", 4, FF_SIGNED);

// One declaration layout: the width of its length, options, statement length and column count
// (0: the update columns are only framed).
struct DeclareLayout {
  const FieldDef* length;
  const FieldDef* options;
  const FieldDef* statementLength;
  const FieldDef* columns;
};

constexpr DeclareLayout kDeclare{&kLength2, &kOptions1, &kStatementLength2, &kColumns1};
constexpr DeclareLayout kDeclare2{&kLength4, &kOptions4, &kStatementLength4, nullptr};
constexpr DeclareLayout kDeclare3{&kLength4, &kOptions4, &kStatementLength4, &kColumns2};

int32_t DecodeDeclare(MessageToken& t, Out& out, const DeclareLayout& layout) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, *layout.length) || !EmitName(t, out, kNameLength, kName)) return -1;
  if (!Emit(out, *layout.options) || !Emit(out, kDeclareStatus)) return -1;
  const int32_t n = static_cast<int32_t>(Peek(t, out, layout.statementLength->size));
  if (!Emit(out, *layout.statementLength)) return -1;
  if (n > 0 && !EmitText(t, out, kStatement, n)) return -1;
  if (!layout.columns) {
    if (out.remaining > 0 && !Emit(out, kUpdateColumns, out.remaining)) return -1;
    return static_cast<int32_t>(out.cursor - start);
  }
  const uint32_t columns = Peek(t, out, layout.columns->size);
  if (!Emit(out, *layout.columns)) return -1;
  for (uint32_t i = 0; i < columns; ++i)
    if (!EmitName(t, out, kColumnNameLength, kColumnName)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// The cursor id, and its name when the id is 0.
bool EmitCursor(MessageToken& t, Out& out) {
  const uint32_t id = Peek(t, out, 4);
  if (!Emit(out, kCursorId)) return false;
  return id != 0 || EmitName(t, out, kNameLength, kName);
}

}  // namespace

int32_t DecodeCurDeclareReal(MessageToken& t, Out& out) {
  return DecodeDeclare(t, out, kDeclare);
}

int32_t DecodeCurDeclareWide(MessageToken& t, Out& out) {
  return DecodeDeclare(t, out, t.start[0] == 0x10 ? kDeclare3 : kDeclare2);
}

// The row count is there only when the length leaves 4 bytes for it.
int32_t DecodeCurInfoReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength2) || !EmitCursor(t, out) || !Emit(out, kCommand)) return -1;
  if (!Emit(out, t.dir == 0 ? kClientStatus2 : kStatus2)) return -1;
  if (out.remaining >= 4 && !Emit(out, kRowCount)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// CURINFO2 and CURINFO3: what is left after the command tells the status width (2 bytes when
// it leaves 2 over a multiple of 4), then the counts as the length allows.
int32_t DecodeCurInfoWide(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength2) || !EmitCursor(t, out) || !Emit(out, kCommand)) return -1;
  if (!Emit(out, out.remaining % 4 == 2 ? kStatus2 : kStatus4)) return -1;
  const FieldDef* counts[] = {&kRowCount, &kCurrentRow, &kTotalRows};
  for (const FieldDef* count : counts)
    if (out.remaining >= 4 && !Emit(out, *count)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}
