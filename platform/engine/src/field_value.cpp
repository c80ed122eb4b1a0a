#include "tdsengine/field_value.h"

uint64_t FieldUnsigned(const FieldRecord& f) {
  const int32_t n = f.size > 8 ? 8 : f.size;
  uint64_t v = 0;
  if (f.msbFirst) {
    for (int32_t i = 0; i < n; ++i) v = (v << 8) | f.data[i];
  } else {
    for (int32_t i = n - 1; i >= 0; --i) v = (v << 8) | f.data[i];
  }
  return v;
}

int64_t FieldSigned(const FieldRecord& f) {
  const uint64_t v = FieldUnsigned(f);
  if (f.size <= 0) return 0;
  if (f.size >= 8) return static_cast<int64_t>(v);
  const uint64_t sign = uint64_t(1) << (8 * f.size - 1);
  return static_cast<int64_t>((v ^ sign) - sign);
}

int FieldTableRow(const FieldRecord& f) {
  if (!f.table || f.rows <= 0) return -1;
  return PIgetInterpretationString(1, static_cast<int32_t>(FieldUnsigned(f)), f.rows, f.table);
}

bool FieldIsInteger(const FieldRecord& f) {
  switch (f.format) {
    case FF_DECIMAL:
    case FF_SIGNED:
      return f.size <= 8;
    case FF_FLAGS:
    case FF_HEX:
      return f.size >= 1 && f.size <= 4;
    default:
      return false;
  }
}
