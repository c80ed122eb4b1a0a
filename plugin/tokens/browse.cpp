// COLINFO and ORDERBY: browse-mode column information and the columns of an order-by clause.
#include "engine/emit.h"
#include "tables/requests.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumnNumber = Plain("Column Number", 1, FF_DECIMAL);
constexpr FieldDef kTableNumber = Plain("Table Number", 1, FF_DECIMAL);
// Several status bits can be set at once, so the status is read as bits, one line per set bit.
constexpr FieldDef kStatus =
    Coded("Status of current column", 1, FF_FLAGS, ColInfoStatusTable, 0xFF000000);
constexpr FieldDef kNameLength = Plain("Column's Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Column Name", 0, FF_STRING);

constexpr FieldDef kColumnCount = Plain("No. of columns", 2, FF_DECIMAL, "Columns");
constexpr FieldDef kColumnNo = Plain("Column No.", 1, FF_DECIMAL);

constexpr int32_t kNameFollows = 0x20;

}  // namespace

TDS_DECODER(DecodeColInfo) {
  Out out{tree, cursor, remaining, offset, parser};
  uint16_t left = static_cast<uint16_t>(ReadValue(cursor, 2));
  if (!Emit(out, kLength)) return -1;
  const auto use = [&left](int32_t n) {
    left = static_cast<uint16_t>(left - static_cast<uint16_t>(n));
  };
  while (static_cast<int16_t>(left) > 0) {
    if (!Emit(out, kColumnNumber) || !Emit(out, kTableNumber)) return -1;
    use(2);
    const int32_t status = ReadValue(cursor, 1);
    if (!Emit(out, kStatus)) return -1;
    use(1);
    if ((status & kNameFollows) == 0) continue;
    const int16_t nameLength = ReadCount(cursor, 1);
    if (!Emit(out, kNameLength) || !Emit(out, kName, nameLength)) return -1;
    use(1 + nameLength);
  }
  return 0;
}

TDS_DECODER(DecodeOrderBy) {
  Out out{tree, cursor, remaining, offset, parser};
  const int16_t columns = ReadCount(cursor, 2);
  if (!Emit(out, kColumnCount)) return -1;
  for (int32_t i = 0; i < columns; ++i) {
    if (!Emit(out, kColumnNo)) return -1;
  }
  return 0;
}
