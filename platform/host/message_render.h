// Rendering of one decoded TDS message: a JSON object per message (JSON Lines) or a text tree
// with one branch per token. The tokens' fields are rendered exactly as the packet view's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "message_assembler.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"

struct MessageMeta {
  uint64_t message = 0;  // number of the message in its input, from 1
  uint64_t lastFrame = 0;
  uint32_t conn = 0;
  bool clientToServer = true;
  uint8_t type = 0;
  uint32_t packets = 0;
  size_t bytes = 0;  // message data, headers removed
  MessageCut cut = MessageCut::kNone;
  TdsMessageWalk walk{};
};

// {"message": N, "frame": F, "conn": C, "dir": D, "type": T, "packets": K, "bytes": B,
//  "tokens": [...], "rest": {...}, "cut_short": "..."} and a newline; "rest" only when the
// walk ended early, "cut_short" only when the message was handed over incomplete.
void RenderMessageJson(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out);

// A line for the message, a line per token with its fields beneath, then an empty line.
void RenderMessageText(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out);
