// The plug-in's message entry, beside sybasetds_parse: one whole TDS message of one direction
// (the data of its packets, headers removed), walked token by token with the layouts real
// clients and servers use. Each token becomes one record of the display tree (title = the
// token's TDS name, long name = its table text) marked with its span (PIMarkTokenSpan); data
// tokens carry their values (PIOutputValue).
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

// Byte-order codes of the walk: as the field byte-order codes.
constexpr int32_t kWalkOrderNone = 0;
constexpr int32_t kWalkOrderBig = 1;
constexpr int32_t kWalkOrderLittle = 2;

// Where the byte order in force came from.
enum TdsOrderSource : int32_t {
  // Undecided: no login, nothing forced, no guess. The message is framed least significant
  // byte first, and fields and values read in the connection's order are shown as raw bytes.
  kOrderFromNone = 0,
  kOrderFromLogin = 1,     // the connection's login record
  kOrderFromInferred = 2,  // the caller's guess for a connection whose login was not seen
  kOrderFromOption = 3,    // forced by the caller
};

// Walk options.
enum TdsWalkFlags : int32_t {
  kWalkShowPasswords = 0x01,  // show the login password instead of masking it
  kWalkProbe = 0x02,          // a trial walk: the connection's state is neither read nor kept
};

struct TdsMessageWalk {
  // In, from the caller.
  int32_t clientToServer = 1;           // direction of the message
  int32_t forceOrder = kWalkOrderNone;  // a byte order that overrides the login's
  int32_t guessOrder = kWalkOrderNone;  // the order to take while no login was seen
  int32_t flags = 0;                    // TdsWalkFlags

  // Out.
  int32_t tokens = 0;              // token records emitted
  int32_t restOffset = 0;          // where the walk ended early, from the first byte of the data
  int32_t restSize = 0;            // bytes left unwalked; 0 when the walk reached the end
  const char* restReason = "";     // why, when restSize > 0
  int32_t order = kWalkOrderNone;  // the byte order the message was walked in; none: undecided
  int32_t orderSource = kOrderFromNone;
  int32_t implausible = 0;  // completion statuses with bits no server sets (a wrong order)
};

// frame: a block that begins with the direction's 14-byte Ethernet header and holds the
// message data at `data`; length: bytes of message data; messageType and channel: from the
// message's first packet header. Returns 0, or 1 when the message type is unknown.
using TdsParseMessageFn = int32_t (*)(const uint8_t* frame, CPDecode* tree, const uint8_t* data,
                                      int32_t length, int32_t messageType, int32_t channel,
                                      TdsMessageWalk* walk);
#define TDS_PARSE_MESSAGE_SYMBOL "sybasetds_parse_message"

// The name of a message type, as the packet header's field shows it ("Login record"; "Unknown"
// for a type without one).
using TdsMessageTypeNameFn = const char* (*)(int32_t messageType);
#define TDS_MESSAGE_TYPE_NAME_SYMBOL "sybasetds_message_type_name"

// The text of a token type, as the token's type field shows it in the message view ("A Row of
// Data"; "Unknown" for a code without one).
using TdsTokenTextFn = const char* (*)(int32_t token);
#define TDS_TOKEN_TEXT_SYMBOL "sybasetds_token_text"
