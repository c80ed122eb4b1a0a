#include "streams/packet_framer.h"

#include "streams/buffer_pool.h"

namespace {

constexpr size_t kLengthEnd = 4;  // type, status and the 2-byte length

// End of the last complete packet from pos on.
size_t CompletePackets(const uint8_t* data, size_t pos, size_t length) {
  while (length - pos >= kLengthEnd) {
    const size_t extent = TdsPacketExtent(data + pos);
    if (extent > length - pos) break;
    pos += extent;
  }
  return pos;
}

}  // namespace

void PacketFramer::Hold(const uint8_t* data, size_t length) {
  if (m_held.empty()) TakePooledBuffer(m_held);
  m_held.insert(m_held.end(), data, data + length);
}

void PacketFramer::ClearHeld() {
  GivePooledBuffer(m_held);
}

bool PacketFramer::FlushHeld(std::vector<uint8_t>& scratch, FramedBytes& out) {
  if (m_held.empty()) return false;
  scratch.assign(m_held.begin(), m_held.end());
  m_flushed += m_held.size();
  ClearHeld();
  out = FramedBytes{scratch.data(), scratch.size(), false};
  return true;
}

bool PacketFramer::Feed(const uint8_t* data, size_t length, std::vector<uint8_t>& scratch,
                        FramedBytes& out) {
  if (length == 0) return false;
  if (m_mode != Mode::kFraming) {
    if (PlausibleTdsStart(data, length)) {
      m_mode = Mode::kFraming;
    } else if (m_mode == Mode::kWaitForStart) {
      m_skipped += length;
      return false;
    } else {
      out = FramedBytes{data, length, true};  // kResync: as it is
      return true;
    }
  }
  return Frame(data, length, scratch, out);
}

bool PacketFramer::Frame(const uint8_t* data, size_t length, std::vector<uint8_t>& scratch,
                         FramedBytes& out) {
  size_t pos = 0;
  bool assembled = false;
  if (!m_held.empty()) {
    if (m_held.size() < kLengthEnd) {
      const size_t take = kLengthEnd - m_held.size() < length ? kLengthEnd - m_held.size() : length;
      Hold(data, take);
      pos = take;
      if (m_held.size() < kLengthEnd) return false;
    }
    const size_t need = TdsPacketExtent(m_held.data()) - m_held.size();
    if (length - pos < need) {
      if (m_held.size() + (length - pos) > m_ceiling) {
        // Past the ceiling the bytes go out as they are and framing starts over.
        scratch.assign(m_held.begin(), m_held.end());
        scratch.insert(scratch.end(), data + pos, data + length);
        m_flushed += m_held.size();
        ClearHeld();
        m_mode = Mode::kResync;
        out = FramedBytes{scratch.data(), scratch.size(), false};
        return true;
      }
      Hold(data + pos, length - pos);
      return false;
    }
    scratch.assign(m_held.begin(), m_held.end());
    scratch.insert(scratch.end(), data + pos, data + pos + need);
    pos += need;
    ClearHeld();
    assembled = true;
  }
  const size_t start = pos;
  const size_t end = CompletePackets(data, pos, length);
  if (end < length) {
    if (length - end > m_ceiling) {
      // Only a ceiling below the largest packet gets here.
      if (!assembled) scratch.clear();
      scratch.insert(scratch.end(), data + start, data + length);
      m_mode = Mode::kResync;
      out = FramedBytes{scratch.data(), scratch.size(), false};
      return true;
    }
    Hold(data + end, length - end);
  }
  if (assembled) {
    scratch.insert(scratch.end(), data + start, data + end);
    out = FramedBytes{scratch.data(), scratch.size(), false};
    return true;
  }
  if (end == start) return false;
  out = FramedBytes{data + start, end - start, true};
  return true;
}

bool PacketFramer::Gap(std::vector<uint8_t>& scratch, FramedBytes& out) {
  if (m_mode == Mode::kFraming) m_mode = Mode::kResync;
  return FlushHeld(scratch, out);
}

bool PacketFramer::End(std::vector<uint8_t>& scratch, FramedBytes& out) {
  return FlushHeld(scratch, out);
}
