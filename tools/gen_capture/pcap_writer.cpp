#include "pcap_writer.h"

#include <cstring>

namespace gen {

namespace {

constexpr size_t kBufferSize = 4 << 20;
constexpr uint16_t kMss = 1460;

void Le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void Be16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void Be32(uint8_t* p, uint32_t v) {
  Be16(p, v >> 16);
  Be16(p + 2, v & 0xFFFF);
}

uint32_t Sum16(const uint8_t* p, size_t n, uint32_t sum) {
  for (size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
  if (n & 1) sum += static_cast<uint32_t>(p[n - 1] << 8);
  return sum;
}

uint16_t Fold(uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

}  // namespace

PcapWriter::PcapWriter(FILE* out) : m_out(out) {
  m_buffer.reserve(kBufferSize);
  uint8_t header[24] = {};
  Le32(header, 0xA1B2C3D4);
  header[4] = 2;  // version 2.4
  header[6] = 4;
  Le32(header + 16, 262144);  // snapshot length
  Le32(header + 20, 1);       // Ethernet
  Put(header, sizeof(header));
}

PcapWriter::~PcapWriter() {
  Flush();
}

void PcapWriter::Put(const void* data, size_t n) {
  if (m_buffer.size() + n > kBufferSize) Flush();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  m_buffer.insert(m_buffer.end(), p, p + n);
  m_bytes += n;
}

void PcapWriter::Frame(uint64_t micros, const uint8_t* data, size_t length) {
  uint8_t record[16];
  Le32(record, static_cast<uint32_t>(micros / 1000000));
  Le32(record + 4, static_cast<uint32_t>(micros % 1000000));
  Le32(record + 8, static_cast<uint32_t>(length));
  Le32(record + 12, static_cast<uint32_t>(length));
  Put(record, sizeof(record));
  Put(data, length);
  ++m_frames;
}

bool PcapWriter::Flush() {
  if (!m_buffer.empty() && !m_failed) {
    if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out) != m_buffer.size()) m_failed = true;
  }
  m_buffer.clear();
  if (!m_failed && std::fflush(m_out) != 0) m_failed = true;
  return !m_failed;
}

void TcpFlow::Build(int side, uint8_t flags, const uint8_t* payload, size_t length,
                    std::vector<uint8_t>& frame) {
  End& me = m_end[side];
  End& peer = m_end[1 - side];
  const size_t tcpHeader = (flags & kSyn) ? 24 : 20;
  const size_t ipLength = 20 + tcpHeader + length;
  frame.assign(14 + ipLength, 0);
  uint8_t* eth = frame.data();
  std::memcpy(eth, peer.mac, 6);
  std::memcpy(eth + 6, me.mac, 6);
  eth[12] = 0x08;
  eth[13] = 0x00;

  uint8_t* ip = eth + 14;
  ip[0] = 0x45;
  Be16(ip + 2, static_cast<uint32_t>(ipLength));
  Be16(ip + 4, me.ipId++);
  ip[6] = 0x40;  // don't fragment
  ip[8] = 64;
  ip[9] = 6;
  std::memcpy(ip + 12, me.ip, 4);
  std::memcpy(ip + 16, peer.ip, 4);
  Be16(ip + 10, Fold(Sum16(ip, 20, 0)));

  uint8_t* tcp = ip + 20;
  Be16(tcp, me.port);
  Be16(tcp + 2, peer.port);
  Be32(tcp + 4, me.seq);
  const bool ack = (flags & kAck) != 0;
  Be32(tcp + 8, ack ? peer.seq : 0);
  tcp[12] = static_cast<uint8_t>((tcpHeader / 4) << 4);
  tcp[13] = flags;
  Be16(tcp + 14, me.window);
  if (flags & kSyn) {
    tcp[20] = 2;  // maximum segment size
    tcp[21] = 4;
    Be16(tcp + 22, kMss);
  }
  if (length) std::memcpy(tcp + tcpHeader, payload, length);
  // Checksum over the pseudo header and the segment.
  uint32_t sum = Sum16(ip + 12, 8, 0);
  sum += 6;
  sum += static_cast<uint32_t>(tcpHeader + length);
  sum = Sum16(tcp, tcpHeader + length, sum);
  Be16(tcp + 16, Fold(sum));

  me.seq += static_cast<uint32_t>(length) + ((flags & (kSyn | kFin)) ? 1u : 0u);
}

}  // namespace gen
