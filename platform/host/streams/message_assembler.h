// Assembly of one direction's TDS packets into whole messages: the data of consecutive packets
// (headers removed) up to and including the packet whose status has the last-buffer bit, with
// the first packet's message type and channel. A message is laid out behind 14 zero bytes in the
// place of an Ethernet header, so it can be handed to the decoder as a frame block as it is: the
// message walk reads only the message's bytes, so no direction keeps a header of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "input/link_layer.h"
#include "streams/packet_framer.h"

// Why a message was handed over before its last packet (or began without its first).
enum class MessageCut : uint8_t {
  kNone,
  kGap,           // bytes of the stream were lost inside it
  kEnd,           // the stream ended inside it
  kCeiling,       // it outgrew the held-bytes ceiling; its later packets are passed over
  kLostStart,     // it follows lost bytes, so its first packets may be missing
  kJoinedMidway,  // the capture began inside the connection
  kMemory,        // its connection held the most bytes when the memory ceiling was reached
};

// Text for a cut, as the renderers show it; null for kNone.
const char* MessageCutText(MessageCut cut);

struct AssembledMessage {
  const uint8_t* block = nullptr;  // 14 zero bytes, then `length` bytes of data
  const uint8_t* data = nullptr;
  size_t length = 0;
  uint64_t lastFrame = 0;   // the frame that brought its last byte (or ended it)
  uint64_t firstFrame = 0;  // the frame that brought its first byte
  // Capture times of those frames (microseconds since 1970), as given with the bytes.
  int64_t firstUs = 0;
  int64_t lastUs = 0;
  uint32_t packets = 0;
  uint16_t channel = 0;  // channel of the first packet
  uint8_t type = 0;      // message type of the first packet
  MessageCut cut = MessageCut::kNone;
  // A message longer than the window goes out in parts: which part this is (from 1; 0 for a
  // message handed over whole), where it begins in the message's data, and whether it is the
  // message's last.
  uint32_t part = 0;
  bool lastPart = true;
  uint64_t partOffset = 0;
};

// What assemblers count. One set is shared by many directions (a view keeps one per direction
// of travel), so that a direction does not carry 2 KiB of counters of its own.
struct AssemblerCounters {
  uint64_t packets = 0;
  uint64_t packetsPerType[256] = {};
  uint64_t bytesPassedOver = 0;  // of messages past the ceiling, and unframeable stream bytes
};

class MessageAssembler {
 public:
  struct Open;  // a message being assembled

  // The largest message data held before it is handed over cut short. Real result sets can be
  // far larger than any packet; past this the rest of the message is counted, not kept. The
  // display tree of a message costs about 64 bytes per field on top, so this also bounds that.
  static constexpr size_t kDefaultHeldCeiling = 1024 * 1024;
  // Held data past which the consumer is offered the front of an unfinished message: it takes
  // the whole tokens there, and only the rest (part of one token) stays held.
  static constexpr size_t kDefaultWindow = 64 * 1024;

  // counters: where to count (it must outlive the assembler).
  // heldCeiling and window: at most 4 GiB.
  MessageAssembler(bool midStream, AssemblerCounters& counters,
                   size_t heldCeiling = kDefaultHeldCeiling, size_t window = kDefaultWindow);
  ~MessageAssembler();
  MessageAssembler(const MessageAssembler&) = delete;
  MessageAssembler& operator=(const MessageAssembler&) = delete;

  // Receives each message as it completes; `message` is valid during the call only.
  class Consumer {
   public:
    virtual ~Consumer() = default;
    virtual void Message(const AssembledMessage& message) = 0;
    // The front of an unfinished message (lastPart false): returns how many of its first bytes
    // were decoded (whole tokens), 0 to wait for more. Those bytes are let go.
    virtual size_t Part(const AssembledMessage& /*part*/) { return 0; }
  };

  // The next in-order stream bytes; us: the capture time of the frame.
  void Feed(const uint8_t* data, size_t length, uint64_t frame, Consumer& consumer, int64_t us = 0);
  // Bytes before the next Feed are lost: what is held goes out cut short.
  void Gap(uint64_t frame, Consumer& consumer, int64_t us = 0);
  // The stream ends: what is held goes out cut short.
  void End(uint64_t frame, Consumer& consumer, int64_t us = 0);
  // The stream is about to end for the memory ceiling: End's message says so.
  void CutForMemory() { m_endCut = MessageCut::kMemory; }

  size_t heldCapacity() const;
  const AssemblerCounters& counters() const { return *m_counters; }

 private:
  // A frame number with its capture time.
  struct Stamp {
    uint64_t frame;
    int64_t us;
  };
  // first: where the first packet of `data` began (an earlier frame when the framer held its
  // first bytes); now: the frame being handed over.
  void Packets(const uint8_t* data, size_t length, Stamp first, Stamp now, Consumer& consumer);
  void Append(const uint8_t* header, const uint8_t* body, size_t bodyLength, Stamp begun,
              Stamp now);
  void Hand(MessageCut cut, Stamp now, Consumer& consumer);
  void Offer(Consumer& consumer);
  static std::unique_ptr<Open> TakeOpen();
  static void GiveOpen(std::unique_ptr<Open> open);

  PacketFramer m_framer;
  uint32_t m_ceiling;
  uint32_t m_window;
  bool m_passingOver = false;              // the current message outgrew the ceiling
  MessageCut m_startCut;                   // what the next message to open is marked with
  MessageCut m_endCut = MessageCut::kEnd;  // what End marks the message it hands over with
  // The message being assembled, null between messages: an idle direction holds nothing.
  std::unique_ptr<Open> m_msg;
  Stamp m_heldFrom{0, 0};  // the frame that brought the first byte the framer holds
  AssemblerCounters* m_counters;
};
