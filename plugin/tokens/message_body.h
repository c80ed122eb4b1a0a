// The tail that ERROR, INFO and EED share: message text, server name, procedure name and line.
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

// Shows the tail at the cursor, the message text under `messageLabel`. Returns 1 when the whole
// tail was shown, -1 when a field was refused.
int32_t DecodeMessageBody(int32_t& remaining, const uint8_t*& cursor, int32_t offset,
                          CPDecode* tree, CParser* parser, const char* messageLabel);
