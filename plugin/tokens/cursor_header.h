// The head shared by every cursor command except the declaration: the token length, the cursor
// id and, when the id is 0, the cursor's name in its place.
#pragma once
#include <cstdint>

#include "engine/emit.h"

// Shows "Length", "Cursor ID" (in idFormat: FF_DECIMAL, or FF_SIGNED for CURINFO) and, for a
// cursor id of 0, "Cursor Name Length" and, when that length is not 0, "Cursor Name".
// 0 when shown, -1 when a field was refused.
int32_t DecodeCursorHeader(Out& out, FIELD_FORMAT idFormat);
