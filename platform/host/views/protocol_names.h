// The names the decoder plug-in's tables give the TDS message types and token types: read once
// when the plug-in is loaded (before any worker starts), then shared by every view, for the
// types a view counts without having decoded them (the rows the request log passes over).
#pragma once

#include <cstdint>

#include "tdsengine/message.h"

// Takes each type's name from the plug-in's entries; a null entry leaves those names empty.
void SetProtocolNames(TdsMessageTypeNameFn messageType, TdsTokenTextFn tokenText);
// The message type's name ("Login record"); "" when the plug-in gave none.
const char* MessageTypeName(uint8_t type);
// The token type's text ("A Row of Data"); "" when the plug-in gave none.
const char* TokenText(uint8_t code);
