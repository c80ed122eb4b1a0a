// TABNAME: the tables a browse-mode result was read from, as many names as the length covers.
#include "engine/emit.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNameLength = Plain("Table name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("Table name", 0, FF_STRING);

}  // namespace

TDS_DECODER(DecodeTabName) {
  Out out{tree, cursor, remaining, offset, parser};
  int16_t left = ReadCount(cursor, 2);
  if (!Emit(out, kLength)) return -1;
  // A last name running past the length takes the count below 0, which simply ends the list.
  while (left > 0) {
    const int32_t nameLength = ReadValue(cursor, 1);
    if (!Emit(out, kNameLength)) return -1;
    left = static_cast<int16_t>(left - 1);
    if (nameLength > 0) {
      if (!Emit(out, kName, nameLength)) return -1;
      left = static_cast<int16_t>(left - nameLength);
    }
  }
  return 0;
}
