// The plug-in's message entry, beside sybasetds_parse: one whole TDS message of one direction
// (the data of its packets, headers removed), walked token by token. Each token becomes one
// record of the display tree (title = the token's TDS name, long name = its table text) marked
// with its span (PIMarkTokenSpan).
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

struct TdsMessageWalk {
  int32_t tokens;          // token records emitted
  int32_t restOffset;      // where the walk ended early, from the first byte of the data
  int32_t restSize;        // bytes left unwalked; 0 when the walk reached the end
  const char* restReason;  // why, when restSize > 0
};

// frame: a block that begins with the direction's 14-byte Ethernet header and holds the
// message data at `data`; length: bytes of message data; messageType and channel: from the
// message's first packet header. Returns 0, or 1 when the message type is unknown.
using TdsParseMessageFn = int32_t (*)(const uint8_t* frame, CPDecode* tree, const uint8_t* data,
                                      int32_t length, int32_t messageType, int32_t channel,
                                      TdsMessageWalk* walk);
#define TDS_PARSE_MESSAGE_SYMBOL "sybasetds_parse_message"
