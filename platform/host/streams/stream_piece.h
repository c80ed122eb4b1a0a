// A run of one direction's stream bytes on its way from the capture to a view, and the
// interfaces along that way.
#pragma once

#include <cstddef>
#include <cstdint>

struct StreamPiece {
  const uint8_t* data = nullptr;
  size_t length = 0;
  uint64_t frame = 0;                 // the input frame that brought (or completed) these bytes
  const uint8_t* ethernet = nullptr;  // 14-byte Ethernet header for this direction
  // The captured frame, beginning with `ethernet` and holding `data`, when it can be handed to
  // the decoder as it is; null when the bytes were copied out of it.
  const uint8_t* block = nullptr;
};

// Receives a direction's bytes in stream order.
class PieceSink {
 public:
  virtual ~PieceSink() = default;
  // The next bytes of the stream (without reassembly: one whole segment's payload).
  virtual void Deliver(const StreamPiece& piece) = 0;
  // Bytes before the next piece are missing and will not come; `context` is the segment that
  // made that clear.
  virtual void Gap(const StreamPiece& context) = 0;
};

// A view's per-direction state: its framing of the stream into what it decodes.
class DirectionSink : public PieceSink {
 public:
  // The direction has ended: bytes still held are handed over as they are.
  virtual void End(uint64_t frame) = 0;
  // Bytes of memory the sink holds (for the table's memory ceiling).
  virtual size_t HeldBytes() const = 0;
  // The connection is about to end because it held the most bytes when the memory ceiling was
  // reached: what End hands over says so.
  virtual void CutForMemory() {}
};

// The two ends of a TCP connection (IPv4 addresses in the first four bytes).
struct ConnectionEnds {
  uint8_t ipVersion = 4;
  const uint8_t* client = nullptr;
  uint16_t clientPort = 0;
  const uint8_t* server = nullptr;
  uint16_t serverPort = 0;
};

// How traffic is shown: the view opens a sink per direction of each TDS connection and hears
// when a connection's conversation is over.
class View {
 public:
  virtual ~View() = default;
  // A connection found to carry TDS, just before its sinks are opened.
  virtual void ConnectionOpened(uint32_t /*conn*/, const ConnectionEnds& /*ends*/) {}
  // midStream: the connection began before the capture, so its streams start at an unknown
  // place.
  virtual DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) = 0;
  virtual void CloseDirection(DirectionSink* sink) = 0;
  virtual void ConnectionEnded(uint32_t conn) = 0;
  // The input waits for more bytes: what the view holds back by choice is written.
  virtual void InputWaits() {}
};
