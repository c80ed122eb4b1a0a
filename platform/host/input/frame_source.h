// Where frames come from: a capture file or the hex text format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "streams/connection_table.h"

struct InputFrame {
  int linkType = 0;
  const uint8_t* data = nullptr;
  size_t captured = 0;  // bytes in the record
  size_t wire = 0;      // the frame's length on the wire
  int64_t timeUs = 0;   // capture time, microseconds since 1970 (UTC)
  bool hasHint = false;
  ConnectionHint hint;  // the source names the connection and direction itself
  // Frames of the input just before this one that the capture filter passed over: frames keep
  // their numbers in the input.
  uint64_t filteredBefore = 0;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The next frame, valid until the next call; false at the end of the input or at damage,
  // when error() says what is wrong.
  virtual bool Next(InputFrame& frame) = 0;
  const std::string& error() const { return m_error; }
  // Bytes read so far and the input's size (0 when unknown), for progress.
  virtual uint64_t position() const = 0;
  uint64_t size() const { return m_size; }
  // The input may wait for more bytes (a pipe, a terminal, a live interface): output is then
  // flushed after every record.
  bool streaming() const { return m_streaming; }
  // Called when a read is about to wait for more bytes (a pipe with nothing pending, a live
  // capture that timed out), so that what was decoded can be written first.
  void SetWaitHook(std::function<void()> hook) { m_onWait = std::move(hook); }

 protected:
  std::string m_error;
  uint64_t m_size = 0;
  bool m_streaming = false;
  std::function<void()> m_onWait;

  // On a streaming input, calls the wait hook when nothing is buffered in `file` and nothing
  // can be read from its descriptor without waiting.
  void HookIfIdle(FILE* file);
};

// A frame read: counted, its link layers decoded, its TCP segment handed to the table
// (`segment` is scratch space kept by the caller).
inline void FeedFrame(const InputFrame& input, uint64_t frame, ConnectionTable& table,
                      TcpSegment& segment, HostStats& stats) {
  ++stats.framesRead;
  const LinkResult r = DecodeFrame(input.linkType, input.data, input.captured, input.wire, segment);
  if (r == LinkResult::kTcp)
    table.Segment(segment, frame, input.hasHint ? &input.hint : nullptr);
  else if (r == LinkResult::kTooShort)
    ++stats.framesTooShort;
}
