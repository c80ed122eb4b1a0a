// Rendering of one decoded TDS message: a JSON object per message (JSON Lines) or a text tree
// with one branch per token. The tokens' fields are rendered exactly as the packet view's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "streams/message_assembler.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"

struct MessageMeta {
  uint64_t message = 0;  // number of the message in its input, from 1
  uint64_t lastFrame = 0;
  uint64_t firstFrame = 0;
  int64_t firstUs = 0;  // capture times of the first and last frame, microseconds since 1970
  int64_t lastUs = 0;
  // The input's name when several are read (null otherwise); the connection's ends as
  // "192.0.2.1:40001" / "[2001:db8::1]:5000" (empty when unknown).
  const char* file = nullptr;
  const char* client = "";
  const char* server = "";
  // The byte order the message was walked in and where it came from are shown (the
  // connection's first record, and a record whose order differs from the one shown before).
  bool showOrder = false;
  uint32_t conn = 0;
  bool clientToServer = true;
  uint8_t type = 0;
  uint32_t packets = 0;
  size_t bytes = 0;  // message data, headers removed
  MessageCut cut = MessageCut::kNone;
  TdsMessageWalk walk{};
  // A message shown in parts: the part's number (from 1; 0 for a whole message), where it
  // begins in the message's data (its offsets count from there), and whether it is the last.
  uint32_t part = 0;
  uint64_t partOffset = 0;
  bool lastPart = true;
  size_t records = SIZE_MAX;  // the tree's records to show, from the first
  // The record goes out without its number, which whoever merges the workers' records puts in
  // front with PutMessageNumber (the records of one worker cannot know the others' count).
  bool numberLater = false;
};

// What a record begins with: `{"message": N` (JSON) or `Message N` (text).
void PutMessageNumber(uint64_t number, bool json, OutBuffer& out);

// {"message": N, "file": PATH, "frame": F, "first_frame": F0, "first_time": T0, "last_time": T,
//  "conn": C, "client": A, "server": A, "dir": D, "type": T, "packets": K, "bytes": B,
//  "part": {...}, "byte_order": "big", "byte_order_from": "login", "tokens": [...], "rest": {...},
//  "cut_short": "..."} and a newline; "file" only with several inputs, the byte order only when
// meta.showOrder, "rest" only when the walk ended early, "cut_short" only when the message was
// handed over incomplete. Times as "2026-12-06T01:10:25.472008Z".
void RenderMessageJson(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out);

// A line for the message, a line per token with its fields beneath, then an empty line.
void RenderMessageText(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out);

// "2026-12-06T01:10:25.472008Z" (27 characters for years 0 to 9999) at p; returns the end.
char* PutIsoTimeUtc(char* p, int64_t us);
// The walk's byte order ("big", "little"; "undecided" when no order is known yet) and its
// source ("login", "inferred", "option", "undecided").
const char* ByteOrderName(int32_t order);
const char* ByteOrderSourceName(int32_t source);
