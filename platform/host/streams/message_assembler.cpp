#include "streams/message_assembler.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "streams/buffer_pool.h"
#include "streams/tds_header.h"

namespace {

constexpr uint8_t kLastBuffer = 0x01;

// Packets the framer assembles from several segments live here during one call; one buffer
// per thread serves every direction.
std::vector<uint8_t>& Scratch() {
  static thread_local std::vector<uint8_t> scratch;
  return scratch;
}

}  // namespace

// A message being assembled: what is known of it and its bytes so far.
struct MessageAssembler::Open {
  AssembledMessage current;
  std::vector<uint8_t> held;  // Ethernet header, then the message data so far
  uint32_t nextOffer = 0;     // held data at which the front is offered next
};

namespace {

// Open messages done with, kept for the next ones (with their buffers, when not too large):
// one pool per thread serves every direction.
constexpr size_t kPooledOpen = 32;
constexpr size_t kPooledHeldBytes = 64 * 1024;

std::vector<std::unique_ptr<MessageAssembler::Open>>& OpenPool() {
  static thread_local std::vector<std::unique_ptr<MessageAssembler::Open>> pool;
  return pool;
}

}  // namespace

std::unique_ptr<MessageAssembler::Open> MessageAssembler::TakeOpen() {
  auto& pool = OpenPool();
  if (pool.empty()) return std::make_unique<Open>();
  std::unique_ptr<Open> open = std::move(pool.back());
  pool.pop_back();
  return open;
}

void MessageAssembler::GiveOpen(std::unique_ptr<Open> open) {
  auto& pool = OpenPool();
  if (pool.size() >= kPooledOpen) return;
  open->held.clear();
  if (open->held.capacity() > kPooledHeldBytes) std::vector<uint8_t>().swap(open->held);
  pool.push_back(std::move(open));
}

size_t MessageAssembler::heldCapacity() const {
  return (m_msg ? m_msg->held.capacity() : 0) + m_framer.heldCapacity();
}

MessageAssembler::~MessageAssembler() {
  if (m_msg) GiveOpen(std::move(m_msg));
}

const char* MessageCutText(MessageCut cut) {
  switch (cut) {
    case MessageCut::kNone:
      return nullptr;
    case MessageCut::kGap:
      return "bytes of the stream were lost inside the message";
    case MessageCut::kEnd:
      return "the stream ended inside the message";
    case MessageCut::kCeiling:
      return "the message outgrew the held-bytes ceiling; its later packets were passed over";
    case MessageCut::kLostStart:
      return "the message follows lost bytes; its first packets may be missing";
    case MessageCut::kJoinedMidway:
      return "the capture began inside the connection; the message may lack its first packets";
    case MessageCut::kMemory:
      return "the connection held the most bytes when the memory ceiling was reached; it was cut "
             "short here";
  }
  return nullptr;
}

MessageAssembler::MessageAssembler(bool midStream, AssemblerCounters& counters, size_t heldCeiling,
                                   size_t window)
    : m_framer(midStream ? PacketFramer::Mode::kWaitForStart : PacketFramer::Mode::kFraming),
      m_ceiling(static_cast<uint32_t>(heldCeiling)),
      m_window(static_cast<uint32_t>(window)),
      m_startCut(midStream ? MessageCut::kJoinedMidway : MessageCut::kNone),
      m_counters(&counters) {}

void MessageAssembler::Feed(const uint8_t* data, size_t length, uint64_t frame, Consumer& consumer,
                            int64_t us) {
  const Stamp now{frame, us};
  // Only the first packet handed over can hold bytes of earlier frames (those the framer held).
  const bool held = m_framer.held() > 0;
  const Stamp first = held ? m_heldFrom : now;
  FramedBytes out;
  const bool framed = m_framer.Feed(data, length, Scratch(), out);
  // Bytes held from here on begin in this frame, unless older held bytes are still waiting.
  if (framed || !held) m_heldFrom = now;
  if (!framed) {
    if (m_framer.mode() == PacketFramer::Mode::kWaitForStart) m_counters->bytesPassedOver += length;
    return;
  }
  // While the framer looks for a packet start after lost bytes, it hands pieces over as they
  // are: those are not packets.
  if (m_framer.mode() == PacketFramer::Mode::kResync) {
    m_counters->bytesPassedOver += out.length;
    return;
  }
  Packets(out.data, out.length, first, now, consumer);
}

void MessageAssembler::Gap(uint64_t frame, Consumer& consumer, int64_t us) {
  const Stamp now{frame, us};
  FramedBytes out;
  if (m_framer.Gap(Scratch(), out)) Packets(out.data, out.length, m_heldFrom, now, consumer);
  if (m_msg) Hand(MessageCut::kGap, now, consumer);
  m_passingOver = false;
  m_startCut = MessageCut::kLostStart;
}

void MessageAssembler::End(uint64_t frame, Consumer& consumer, int64_t us) {
  const Stamp now{frame, us};
  FramedBytes out;
  if (m_framer.End(Scratch(), out)) Packets(out.data, out.length, m_heldFrom, now, consumer);
  if (m_msg) Hand(m_endCut, now, consumer);
  m_passingOver = false;
}

// Whole packets, except after a gap or at the end, where the last may be cut short.
void MessageAssembler::Packets(const uint8_t* data, size_t length, Stamp first, Stamp now,
                               Consumer& consumer) {
  size_t pos = 0;
  while (pos < length) {
    const uint8_t* header = data + pos;
    const size_t available = length - pos;
    if (available < kTdsHeaderSize) {
      // A header cut short carries no data; the message it would continue is cut short too.
      m_counters->bytesPassedOver += available;
      break;
    }
    const size_t extent = TdsPacketExtent(header);
    const size_t take = extent < available ? extent : available;
    ++m_counters->packets;
    ++m_counters->packetsPerType[header[0]];
    Append(header, header + kTdsHeaderSize, take - kTdsHeaderSize, pos == 0 ? first : now, now);
    pos += take;
    if (take < extent) break;  // handed over as it was: the caller ends the message
    if (header[1] & kLastBuffer) {
      if (m_msg) {
        Hand(MessageCut::kNone, now, consumer);
      } else if (m_passingOver) {
        m_passingOver = false;  // the rest of an oversized message ends here
      }
    } else if (m_msg) {
      if (m_msg->held.size() - kEthernetHeader >= m_msg->nextOffer) Offer(consumer);
      if (m_msg->held.size() - kEthernetHeader > m_ceiling) {
        Hand(MessageCut::kCeiling, now, consumer);
        m_passingOver = true;
      }
    }
  }
}

void MessageAssembler::Append(const uint8_t* header, const uint8_t* body, size_t bodyLength,
                              Stamp begun, Stamp now) {
  if (m_passingOver) {
    m_counters->bytesPassedOver += bodyLength;
    return;
  }
  if (!m_msg) {
    m_msg = TakeOpen();
    m_msg->current = AssembledMessage();
    m_msg->current.type = header[0];
    m_msg->current.channel = static_cast<uint16_t>((header[4] << 8) | header[5]);
    m_msg->current.cut = m_startCut;
    m_msg->current.firstFrame = begun.frame;
    m_msg->current.firstUs = begun.us;
    m_startCut = MessageCut::kNone;
    m_msg->nextOffer = m_window;
    m_msg->held.reserve(kEthernetHeader + bodyLength);
    m_msg->held.assign(kEthernetHeader, 0);
  }
  ++m_msg->current.packets;
  m_msg->current.lastFrame = now.frame;
  m_msg->current.lastUs = now.us;
  m_msg->held.insert(m_msg->held.end(), body, body + bodyLength);
}

void MessageAssembler::Offer(Consumer& consumer) {
  const size_t held = m_msg->held.size() - kEthernetHeader;
  AssembledMessage part = m_msg->current;
  part.block = m_msg->held.data();
  part.data = m_msg->held.data() + kEthernetHeader;
  part.length = held;
  ++part.part;
  part.lastPart = false;
  const size_t taken = std::min(consumer.Part(part), held);
  if (taken == 0) {
    // Nothing whole yet (a token longer than the window): offered again a window later.
    m_msg->nextOffer = static_cast<uint32_t>(held + m_window);
    return;
  }
  m_msg->held.erase(m_msg->held.begin() + kEthernetHeader,
                    m_msg->held.begin() + kEthernetHeader + taken);
  m_msg->current.part = part.part;
  m_msg->current.partOffset += taken;
  // The rest began in the latest frame (or an earlier one); the first cut marks the first part.
  m_msg->current.firstFrame = m_msg->current.lastFrame;
  m_msg->current.firstUs = m_msg->current.lastUs;
  m_msg->current.packets = m_msg->held.size() > kEthernetHeader ? 1 : 0;
  if (m_msg->current.cut == MessageCut::kLostStart ||
      m_msg->current.cut == MessageCut::kJoinedMidway)
    m_msg->current.cut = MessageCut::kNone;
  m_msg->nextOffer = m_window;
}

void MessageAssembler::Hand(MessageCut cut, Stamp now, Consumer& consumer) {
  m_msg->current.block = m_msg->held.data();
  m_msg->current.data = m_msg->held.data() + kEthernetHeader;
  m_msg->current.length = m_msg->held.size() - kEthernetHeader;
  if (m_msg->current.part > 0) ++m_msg->current.part;  // the last part
  m_msg->current.lastPart = true;
  if (cut != MessageCut::kNone) {
    m_msg->current.cut = cut;  // an end cut says more than an unsure start
    m_msg->current.lastFrame = now.frame;
    m_msg->current.lastUs = now.us;
  }
  // Between messages a direction holds nothing of them.
  std::unique_ptr<Open> msg = std::move(m_msg);
  consumer.Message(msg->current);
  GiveOpen(std::move(msg));
}
