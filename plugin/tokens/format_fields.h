// Pieces shared by the format and data decoders: the datatype part of a column or parameter
// description, and the values of a data token laid out by a filed format record.
#pragma once
#include <cstdint>

#include "engine/emit.h"
#include "store/format_record.h"

// "Data Type", then "Length of data type" when the type has a length prefix, then "Precision"
// and "Scale" for the decimal types. The code is appended to `record` (may be null) before it
// is shown. -1 when a field is refused or the code has no rule; the datatype byte then stays
// counted in PacketLeft.
int32_t EmitTypeDescription(Out& out, FormatRecord* record);

// One field per value of a data token, laid out by the codes of `record`; -1 when a field is
// refused or a code has no rule.
int32_t EmitFormattedValues(Out& out, const FormatRecord& record);

// The rest of the packet, as far as the frame holds it, when no format was filed.
int32_t EmitNoStateDump(Out& out);
