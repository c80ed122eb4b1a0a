// How a recorded field's bytes become a value: integers in the field's byte order, the row a
// value table picks, and the rows of a bit table that apply.
#pragma once

#include <cstdint>
#include <cstring>

#include "tdsengine/display_tree.h"

// Unsigned value of the field's first eight bytes at most, in its byte order (size 0 gives 0).
TDSENGINE_API uint64_t FieldUnsigned(const FieldRecord& f);
// The same value sign-extended from the field's size.
TDSENGINE_API int64_t FieldSigned(const FieldRecord& f);

// FieldUnsigned, with the common sizes read in one load (the renderers' per-field path).
inline uint64_t LoadUnsigned(const FieldRecord& f) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  switch (f.size) {
    case 1:
      return f.data[0];
    case 2: {
      uint16_t v;
      std::memcpy(&v, f.data, sizeof(v));
      return f.msbFirst ? __builtin_bswap16(v) : v;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, f.data, sizeof(v));
      return f.msbFirst ? __builtin_bswap32(v) : v;
    }
    case 8: {
      uint64_t v;
      std::memcpy(&v, f.data, sizeof(v));
      return f.msbFirst ? __builtin_bswap64(v) : v;
    }
    default:
      break;
  }
#endif
  return FieldUnsigned(f);
}

// Index of the value-table row for the field, or -1 without a table.
TDSENGINE_API int FieldTableRow(const FieldRecord& f);
// Whether the field renders as a JSON integer (sizes the format shows as a number).
TDSENGINE_API bool FieldIsInteger(const FieldRecord& f);

// Calls visit(text) for each bit-table row that applies to a flags field, in table order,
// empty texts left out.
template <typename Visit>
void ForEachBitText(const FieldRecord& f, Visit visit) {
  if (!f.table || f.rows <= 0 || f.size < 1) return;
  const int shift = f.size >= 4 ? 0 : 32 - 8 * f.size;
  const uint32_t aligned = static_cast<uint32_t>(FieldUnsigned(f) << shift);
  for (int32_t i = 0; i < f.rows;) {
    const CPICodeTable& row = f.table[i];
    const bool pair = i + 1 < f.rows && f.table[i + 1].low == row.low;
    const char* text = nullptr;
    if (row.low != 0 && (row.low & ~f.mask) == 0) {
      const bool set = (aligned & row.low) != 0;
      if (set)
        text = row.text;
      else if (pair)
        text = f.table[i + 1].text;
    }
    if (text && *text) visit(text);
    i += pair ? 2 : 1;
  }
}
