// DYNAMIC: one dynamic SQL operation with its statement id and statement text.
#include "engine/emit.h"
#include "tables/requests.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kType = Coded("Type", 1, FF_HEX, DynamicTypeTable);
constexpr FieldDef kStatusNone = Plain("Status", 1, FF_HEX, "No status");
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, DynamicStatusBits, 0xFF000000);
constexpr FieldDef kIdLength = Plain("Id Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kId = Plain("Id", 0, FF_STRING);
constexpr FieldDef kStatementLength = Plain("Statement Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatement = Plain("Statement", 0, FF_DUMP);

}  // namespace

TDS_DECODER(DecodeDynamic) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength) || !Emit(out, kType)) return -1;
  if (remaining < 1) return -1;
  const int32_t status = ReadValue(cursor, 1);
  if (!Emit(out, status == 0 ? kStatusNone : kStatus)) return -1;
  const int16_t idLength = ReadCount(cursor, 1);
  // The id is shown even when it is empty; the statement only when it has bytes.
  if (!Emit(out, kIdLength) || !Emit(out, kId, idLength)) return -1;
  const int16_t statementLength = ReadCount(cursor, 2);
  if (!Emit(out, kStatementLength)) return -1;
  if (statementLength > 0 && !Emit(out, kStatement, statementLength)) return -1;
  return 0;
}
