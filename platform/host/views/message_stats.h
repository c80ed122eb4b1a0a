// Counters of the message view, printed with --stats: messages per message type and tokens per
// token type, for each direction, and the messages that did not come out whole.
#pragma once

#include <cstdint>

#include "tdsengine/out_buffer.h"

struct MessageStats {
  bool used = false;  // the message view ran
  // [0] client to server, [1] server to client.
  uint64_t messages[2][256] = {};
  uint64_t packets[2][256] = {};
  uint64_t tokens[2][256] = {};
  uint64_t records[2] = {};        // records that are not tokens (login record, message dumps)
  uint64_t firstTokens[256] = {};  // the first token of each message, both directions
  const char* tokenName[256] = {};
  const char* tokenText[256] = {};
  uint64_t messagesCutShort = 0;    // handed over without their last packet (or first)
  uint64_t messagesInParts = 0;     // longer than the window, so shown in parts
  uint64_t messagesEndedEarly = 0;  // walks that left bytes unwalked
  uint64_t tokensRefused = 0;
  uint64_t bytesPassedOver = 0;  // past the held-bytes ceiling, or outside any packet
};

// Both print nothing unless the message view ran. The JSON form adds
// `, "message_view": {...}` inside the stats object.
void PrintMessageStatsText(const MessageStats& stats, OutBuffer& out);
void PrintMessageStatsJson(const MessageStats& stats, OutBuffer& out);
