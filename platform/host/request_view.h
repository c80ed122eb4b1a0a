// The request log as a view: each direction's bytes assembled into whole TDS messages, each
// message walked token by token by the plug-in's message entry, and the walks handed to the
// request tracker, which pairs requests with their answers.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "message_assembler.h"
#include "request_log.h"
#include "stats.h"
#include "stream_piece.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/store.h"

class RequestView : public View {
 public:
  // clock: the capture time of the frame being read (microseconds since 1970), kept current
  // by the caller.
  RequestView(TdsParseMessageFn walk, RequestOutput& out, HostStats& stats, const int64_t& clock);
  ~RequestView() override;

  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;
  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override;
  // End of an input: every conversation store released.
  void EndAll();
  // End of all inputs: the requests still held are written.
  void Finish();

  // One assembled message; firstFrame and firstUs are those of the frame that brought its
  // first byte.
  void Walk(uint32_t conn, bool clientToServer, const AssembledMessage& message,
            uint64_t firstFrame, int64_t firstUs);
  void Lost(uint32_t conn, bool clientToServer) { m_tracker.Lost(conn, clientToServer); }
  int64_t now() const { return m_clock; }

 private:
  // The datatypes of the row format the plug-in filed last on a connection.
  struct RowFormat {
    bool valid = false;
    int32_t order = 0;  // the connection's byte order once its login filed it (1 or 2)
    std::vector<uint8_t> types;
    // The row's layout: fixed bytes, then a length of `width` bytes and its value, in turn.
    struct Step {
      uint32_t fixed;
      int16_t width;  // 0 for the fixed bytes after the last length
    };
    std::vector<Step> steps;
    // The token it came from, the message's channel and the first bytes of its frame block:
    // what the plug-in's format keys are made of.
    std::vector<uint8_t> token;
    uint16_t channel = 0;
    uint8_t frameStart[8] = {};
    bool SameToken(const AssembledMessage& message, const uint8_t* at, size_t size) const;
  };

  // Walks message bytes [from, to) and hands the walk to the tracker.
  void WalkPart(WalkedMessage& w, const AssembledMessage& message, size_t from, size_t to);
  void KeepRowFormat(uint32_t conn, const AssembledMessage& message);
  int32_t ConnectionByteOrder(uint32_t conn) const;
  // Bytes of the row at `row` laid out by the format, or 0 when it does not fit.
  static size_t RowExtent(const RowFormat& format, const uint8_t* row, size_t available,
                          int32_t order);

  TdsParseMessageFn m_walk;
  HostStats& m_stats;
  const int64_t& m_clock;
  StoreRegistry m_registry;
  DisplayTree m_tree;
  RequestTracker m_tracker;
  std::unordered_map<uint32_t, RowFormat> m_rowFormats;
};

// "192.0.2.1:40001", "[2001:db8::1]:5000".
std::string EndpointText(uint8_t ipVersion, const uint8_t* address, uint16_t port);
