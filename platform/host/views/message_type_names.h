// The names of the TDS message types, as the decoder plug-in's packet header table gives them:
// read once when the plug-in is loaded (before any worker starts), then shared by every view.
#pragma once

#include <cstdint>

#include "tdsengine/message.h"

// Takes each type's name from the plug-in's entry; null leaves every name empty.
void SetMessageTypeNames(TdsMessageTypeNameFn name);
// The type's name; "" when the plug-in gave none.
const char* MessageTypeName(uint8_t type);
