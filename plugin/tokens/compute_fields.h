// The fields of ALTFMT, shown alike by the packet view's and the message view's decoders.
#pragma once
#include "engine/emit.h"
#include "tables/compute.h"

namespace compute_fields {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kComputeId = Plain("Compute Clause Id", 2, FF_DECIMAL);
constexpr FieldDef kOperators = Plain("No. of Aggregate Operators", 1, FF_DECIMAL);
constexpr FieldDef kOpType = Coded("Optype", 1, FF_HEX, AggregateOperatorTable);
constexpr FieldDef kOpColumn = Plain("Opcol No.", 1, FF_DECIMAL);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
constexpr FieldDef kLocaleLength = Plain("Locale Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLocale = Plain("Locale Info", 0, FF_STRING);
constexpr FieldDef kByColumns = Plain("No. of Columns in the by-list", 1, FF_DECIMAL, "Columns");
constexpr FieldDef kByColumn = Plain("Column Number", 1, FF_DECIMAL);

}  // namespace compute_fields
