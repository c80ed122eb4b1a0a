// The connection's byte order, announced in the login record and kept in the conversation store
// under the connection id: 1 most significant byte first, 2 least significant byte first.
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

// Files the code unless the connection already has one: the first login wins.
void StoreByteOrder(CPDecode* tree, int32_t code);
// Sets ConnByteOrder from the connection's record; keeps it when there is none.
void FetchByteOrder(CPDecode* tree);
