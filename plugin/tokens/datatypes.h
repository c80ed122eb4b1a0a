// TDS datatype rules: the width of a value's length prefix, the size of fixed-size values, and
// which types carry precision and scale. Codes are unsigned bytes; unknown codes have no rule.
#pragma once
#include <cstdint>

// 0 for fixed-size types, 1 or 4 for variable-length ones, -1 for a code without a rule.
int16_t LengthPrefixWidth(int32_t code);
// 1, 2, 4 or 8 for the fixed-size types, -1 for every other code.
int16_t FixedDataSize(int32_t code);
// TDS_DECN and TDS_NUMN.
bool IsDecimalType(int32_t code);
