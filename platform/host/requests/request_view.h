// The request log as a view: each direction's bytes assembled into whole TDS messages, each
// message walked token by token by the plug-in's message entry, and the walks handed to the
// request tracker, which pairs requests with their answers. Rows of the server's answers that
// the log does not show are framed by the row format and counted instead of walked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "options.h"
#include "requests/request_log.h"
#include "stats.h"
#include "streams/byte_order_guess.h"
#include "streams/message_assembler.h"
#include "streams/stream_piece.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/store.h"
#include "tdswire/format.h"

class RequestView : public View {
 public:
  // clock: the capture time of the frame being read (microseconds since 1970), kept current
  // by the caller. From the options: the byte order forced (--byte-order) and the rows of each
  // result set the log shows (--rows N, at most kMaxRowsKept).
  RequestView(TdsParseMessageFn walk, RequestOutput& out, HostStats& stats, const int64_t& clock,
              const Options& options = Options());
  ~RequestView() override;

  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;
  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override;
  // End of an input: every conversation store released.
  void EndAll();
  // End of all inputs: the requests still held are written.
  void Finish();
  void InputWaits() override { m_tracker.InputWaits(); }

  // One assembled message, with the frames and capture times of its first and last byte, or
  // the front of an unfinished one (message.lastPart false). Returns the bytes walked or
  // counted: for a part, those of its whole tokens (0: none yet).
  size_t Walk(uint32_t conn, bool clientToServer, const AssembledMessage& message);
  void Lost(uint32_t conn, bool clientToServer) { m_tracker.Lost(conn, clientToServer); }
  int64_t now() const { return m_clock; }
  // A frame whose TDS bytes went to the decoder (counted as in the packet view).
  void CountFrame() { ++m_stats.framesDecoded; }

  // Keeps the values of the first `rows` rows of each result set (at most kMaxRowsKept):
  // those rows are walked, the others only framed and counted.
  void KeepRows(size_t rows) { m_tracker.KeepRows(rows); }
  void SetQueueHook(RequestTracker::QueueHook* hook) { m_tracker.SetQueueHook(hook); }

 private:
  // The first token of a message, and its name when known (--stats).
  void CountFirstToken(int token, const char* text);
  // What the view keeps of a connection: the byte order its messages were walked in, and the
  // row format its server sent last, to frame its rows without walking them; kept by the
  // tracker with its own state of the connection.
  using Connection = RequestTracker::Framing;

  // The bytes of the whole tokens at the front of `data` that frame by their length alone.
  static size_t WholeTokens(const uint8_t* data, size_t length, int32_t order);
  // Walks message bytes [from, to) and hands the walk to the tracker.
  void WalkPart(WalkedMessage& w, const AssembledMessage& message, size_t from, size_t to);
  // The last row format of the latest walk, parsed in the walk's byte order.
  void KeepRowFormat(Connection& c);

  TdsParseMessageFn m_walk;
  HostStats& m_stats;
  const int64_t& m_clock;
  StoreRegistry m_registry;
  ByteOrderGuess m_orders;
  int32_t m_forceOrder = kWalkOrderNone;  // of the message being walked
  int32_t m_guessOrder = kWalkOrderNone;
  DisplayTree m_tree;
  RequestTracker m_tracker;
  AssemblerCounters m_assembled;  // counted by the assemblers, not shown
};
