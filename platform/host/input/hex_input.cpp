#include "input/hex_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "input/link_layer.h"
#include "input/stop_signal.h"

namespace {

const uint8_t kClientMac[6] = {2, 0, 0, 0, 0, 1};
const uint8_t kServerMac[6] = {2, 0, 0, 0, 0, 2};
const uint8_t kClientIp[4] = {192, 0, 2, 1};
const uint8_t kServerIp[4] = {198, 51, 100, 1};
constexpr uint16_t kServerPort = 5000;
constexpr uint16_t kClientPortBase = 40000;
constexpr uint32_t kFirstSeq[2] = {0x10000000u, 0x20000000u};

inline bool Blank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v >> 16);
  Put16(p + 2, v & 0xFFFF);
}

std::string Printable(int c) {
  if (c >= 0x21 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  char buf[8];
  std::snprintf(buf, sizeof(buf), "0x%02x", static_cast<unsigned>(c) & 0xFF);
  return buf;
}

}  // namespace

HexSource::HexSource(FILE* in, std::string name) : m_in(in), m_name(std::move(name)) {
  struct stat st;
  m_streaming = fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode);
}

uint64_t HexSource::position() const {
  return m_read;
}

bool HexSource::Fail(const std::string& why) {
  m_error = m_name + ": line " + std::to_string(m_line) + ": " + why;
  return false;
}

bool HexSource::Next(InputFrame& frame) {
  if (!m_error.empty()) return false;
  HookIfIdle(m_in);
  for (;;) {
    int c = getc(m_in);
    if (c == EOF) {
      if (ferror(m_in) && !StopRequested()) {
        m_error = m_name + ": " + std::strerror(errno);
      }
      return false;
    }
    ++m_read;
    ++m_line;
    while (Blank(c)) {
      c = getc(m_in);
      ++m_read;
    }
    if (c == '\n' || c == EOF) continue;
    if (c == '#') {
      while (c != '\n' && c != EOF) {
        c = getc(m_in);
        ++m_read;
      }
      continue;
    }
    // [CONN]
    uint32_t conn = 1;
    if (c >= '0' && c <= '9') {
      uint64_t n = 0;
      while (c >= '0' && c <= '9') {
        if (n <= kMaxConnection) n = n * 10 + static_cast<uint64_t>(c - '0');
        c = getc(m_in);
        ++m_read;
      }
      if (n < 1 || n > kMaxConnection)
        return Fail("bad connection number (1 to " + std::to_string(kMaxConnection) + ")");
      conn = static_cast<uint32_t>(n);
    }
    // DIR
    bool c2s;
    if (c == 'c' || c == 'C') {
      c2s = true;
    } else if (c == 's' || c == 'S') {
      c2s = false;
    } else {
      return Fail("bad direction " +
                  (c == '\n' || c == EOF ? std::string("(none)") : Printable(c)) +
                  ": expected c or s");
    }
    c = getc(m_in);
    ++m_read;
    if (!Blank(c) && c != '\n' && c != EOF)
      return Fail("bad direction: expected c or s followed by a blank");
    // HEX
    m_payload.clear();
    int high = -1;
    while (c != '\n' && c != EOF) {
      if (!Blank(c)) {
        const int v = HexValue(c);
        if (v < 0) return Fail("bad hex digit " + Printable(c));
        if (high < 0) {
          high = v;
        } else {
          if (m_payload.size() == kMaxPayload)
            return Fail("payload longer than one frame can carry (" + std::to_string(kMaxPayload) +
                        " bytes)");
          m_payload.push_back(static_cast<uint8_t>(high << 4 | v));
          high = -1;
        }
      }
      c = getc(m_in);
      ++m_read;
    }
    if (high >= 0) return Fail("odd number of hex digits");
    BuildFrame(conn, c2s);
    frame.linkType = kLinkEthernet;
    frame.data = m_frame.data();
    frame.captured = frame.wire = m_frame.size();
    // Hex text has no clock of its own: frame N is taken at N milliseconds.
    frame.timeUs = static_cast<int64_t>(++m_frames) * 1000;
    frame.hasHint = true;
    frame.hint.number = conn;
    frame.hint.clientToServer = c2s;
    return true;
  }
}

void HexSource::BuildFrame(uint32_t conn, bool c2s) {
  auto found = m_seq.find(conn);
  if (found == m_seq.end())
    found = m_seq.emplace(conn, Sequences{{kFirstSeq[0], kFirstSeq[1]}}).first;
  Sequences& seq = found->second;
  const int dir = c2s ? 0 : 1;
  const size_t n = m_payload.size();
  m_frame.assign(14 + 20 + 20 + n, 0);
  uint8_t* eth = m_frame.data();
  std::memcpy(eth, c2s ? kServerMac : kClientMac, 6);
  std::memcpy(eth + 6, c2s ? kClientMac : kServerMac, 6);
  eth[12] = 0x08;
  eth[13] = 0x00;
  uint8_t* ip = eth + 14;
  ip[0] = 0x45;
  Put16(ip + 2, static_cast<uint32_t>(20 + 20 + n));
  Put16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = 6;
  std::memcpy(ip + 12, c2s ? kClientIp : kServerIp, 4);
  std::memcpy(ip + 16, c2s ? kServerIp : kClientIp, 4);
  uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += (uint32_t(ip[i]) << 8) | ip[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  Put16(ip + 10, ~sum & 0xFFFF);
  uint8_t* tcp = ip + 20;
  const uint16_t clientPort = static_cast<uint16_t>(kClientPortBase + conn);
  Put16(tcp, c2s ? clientPort : kServerPort);
  Put16(tcp + 2, c2s ? kServerPort : clientPort);
  Put32(tcp + 4, seq.next[dir]);
  Put32(tcp + 8, seq.next[1 - dir]);
  tcp[12] = 5 << 4;
  tcp[13] = kTcpAck | kTcpPsh;
  Put16(tcp + 14, 65535);
  if (n) std::memcpy(tcp + 20, m_payload.data(), n);
  seq.next[dir] += static_cast<uint32_t>(n);
}
