// The message view: each direction's TDS packets assembled into whole messages, each message
// walked token by token by the plug-in's message entry, one record per message.
#pragma once

#include <cstdint>

#include "message_assembler.h"
#include "options.h"
#include "stats.h"
#include "stream_piece.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/store.h"

class MessageView : public View {
 public:
  MessageView(TdsParseMessageFn parse, const Options& options, OutBuffer& out, HostStats& stats);
  ~MessageView() override;

  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;
  // The end of an input: every conversation store released, messages numbered from 1 again.
  void EndAll();

  void Decode(uint32_t conn, bool clientToServer, const AssembledMessage& message);

 private:
  void Count(bool clientToServer, const AssembledMessage& message, const TdsMessageWalk& walk);

  TdsParseMessageFn m_parse;
  const Options& m_options;
  OutBuffer& m_out;
  HostStats& m_stats;
  StoreRegistry m_registry;
  DisplayTree m_tree;
  uint64_t m_messages = 0;
};
