// DBRPC: the procedure name and the options only; the parameters travel in the parameter
// format and parameter tokens after it.
#include "engine/emit.h"
#include "tables/requests.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNameLength = Plain("RPC Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("RPC Name", 0, FF_STRING);
constexpr FieldDef kOptionsNone = Plain("Options", 2, FF_HEX, "Unused");
constexpr FieldDef kOptions = Coded("Options", 2, FF_FLAGS, DbRpcOptionBits, 0xFFFF0000);

}  // namespace

TDS_DECODER(DecodeDbRpc) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength)) return -1;
  const int16_t nameLength = ReadCount(cursor, 1);
  if (!Emit(out, kNameLength)) return -1;
  if (nameLength > 0 && !Emit(out, kName, nameLength)) return -1;
  if (remaining < 2) return -1;
  const int32_t options = ReadValue(cursor, 2);
  return Emit(out, options == 0 ? kOptionsNone : kOptions) ? 0 : -1;
}
