#include "message_assembler.h"

#include <algorithm>
#include <cstring>

#include "buffer_pool.h"
#include "tds_header.h"

namespace {

constexpr uint8_t kLastBuffer = 0x01;

// Packets the framer assembles from several segments live here during one call; one buffer
// per thread serves every direction.
std::vector<uint8_t>& Scratch() {
  static thread_local std::vector<uint8_t> scratch;
  return scratch;
}

}  // namespace

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

void MessageAssembler::Remember(const uint8_t* ethernet) {
  if (ethernet) std::memcpy(m_ethernet, ethernet, kEthernetHeader);
}

void MessageAssembler::Feed(const uint8_t* data, size_t length, uint64_t frame,
                            const uint8_t* ethernet, Consumer& consumer, int64_t us) {
  Remember(ethernet);
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

void MessageAssembler::Gap(uint64_t frame, const uint8_t* ethernet, Consumer& consumer,
                           int64_t us) {
  Remember(ethernet);
  const Stamp now{frame, us};
  FramedBytes out;
  if (m_framer.Gap(Scratch(), out)) Packets(out.data, out.length, m_heldFrom, now, consumer);
  if (m_open) Hand(MessageCut::kGap, now, consumer);
  m_passingOver = false;
  m_startCut = MessageCut::kLostStart;
}

void MessageAssembler::End(uint64_t frame, Consumer& consumer, int64_t us) {
  const Stamp now{frame, us};
  FramedBytes out;
  if (m_framer.End(Scratch(), out)) Packets(out.data, out.length, m_heldFrom, now, consumer);
  if (m_open) Hand(m_endCut, now, consumer);
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
      if (m_open) {
        Hand(MessageCut::kNone, now, consumer);
      } else if (m_passingOver) {
        m_passingOver = false;  // the rest of an oversized message ends here
      }
    } else if (m_open) {
      if (m_held.size() - kEthernetHeader >= m_nextOffer) Offer(consumer);
      if (m_held.size() - kEthernetHeader > m_ceiling) {
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
  if (!m_open) {
    m_open = true;
    m_current = AssembledMessage();
    m_current.type = header[0];
    m_current.channel = static_cast<uint16_t>((header[4] << 8) | header[5]);
    m_current.cut = m_startCut;
    m_current.firstFrame = begun.frame;
    m_current.firstUs = begun.us;
    m_startCut = MessageCut::kNone;
    m_nextOffer = m_window;
    TakePooledBuffer(m_held);
    m_held.reserve(kEthernetHeader + bodyLength);
    m_held.assign(kEthernetHeader, 0);
  }
  ++m_current.packets;
  m_current.lastFrame = now.frame;
  m_current.lastUs = now.us;
  m_held.insert(m_held.end(), body, body + bodyLength);
}

void MessageAssembler::Offer(Consumer& consumer) {
  std::memcpy(m_held.data(), m_ethernet, kEthernetHeader);
  const size_t held = m_held.size() - kEthernetHeader;
  AssembledMessage part = m_current;
  part.block = m_held.data();
  part.data = m_held.data() + kEthernetHeader;
  part.length = held;
  ++part.part;
  part.lastPart = false;
  const size_t taken = std::min(consumer.Part(part), held);
  if (taken == 0) {
    // Nothing whole yet (a token longer than the window): offered again a window later.
    m_nextOffer = static_cast<uint32_t>(held + m_window);
    return;
  }
  m_held.erase(m_held.begin() + kEthernetHeader, m_held.begin() + kEthernetHeader + taken);
  m_current.part = part.part;
  m_current.partOffset += taken;
  // The rest began in the latest frame (or an earlier one); the first cut marks the first part.
  m_current.firstFrame = m_current.lastFrame;
  m_current.firstUs = m_current.lastUs;
  m_current.packets = m_held.size() > kEthernetHeader ? 1 : 0;
  if (m_current.cut == MessageCut::kLostStart || m_current.cut == MessageCut::kJoinedMidway)
    m_current.cut = MessageCut::kNone;
  m_nextOffer = m_window;
}

void MessageAssembler::Hand(MessageCut cut, Stamp now, Consumer& consumer) {
  std::memcpy(m_held.data(), m_ethernet, kEthernetHeader);
  m_current.block = m_held.data();
  m_current.data = m_held.data() + kEthernetHeader;
  m_current.length = m_held.size() - kEthernetHeader;
  if (m_current.part > 0) ++m_current.part;  // the last part
  m_current.lastPart = true;
  if (cut != MessageCut::kNone) {
    m_current.cut = cut;  // an end cut says more than an unsure start
    m_current.lastFrame = now.frame;
    m_current.lastUs = now.us;
  }
  m_open = false;
  consumer.Message(m_current);
  // Between messages a direction holds no buffer.
  GivePooledBuffer(m_held);
}
