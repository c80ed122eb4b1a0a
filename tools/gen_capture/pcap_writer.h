// Classic pcap output (microsecond timestamps, Ethernet) and the Ethernet/IPv4/TCP framing of
// one connection's segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace gen {

class PcapWriter {
 public:
  // Writes the file header at once; `out` stays the caller's.
  explicit PcapWriter(FILE* out);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  void Frame(uint64_t micros, const uint8_t* data, size_t length);
  bool Flush();  // false on a write error
  uint64_t bytes() const { return m_bytes; }
  uint64_t frames() const { return m_frames; }

 private:
  void Put(const void* data, size_t n);

  FILE* m_out;
  std::vector<uint8_t> m_buffer;
  uint64_t m_bytes = 0;
  uint64_t m_frames = 0;
  bool m_failed = false;
};

enum TcpFlags : uint8_t {
  kFin = 0x01,
  kSyn = 0x02,
  kRst = 0x04,
  kPsh = 0x08,
  kAck = 0x10,
};

// Both ends of one TCP connection; side 0 is the client. Sequence and acknowledgement numbers
// follow the bytes and flags sent.
class TcpFlow {
 public:
  struct End {
    uint8_t mac[6];
    uint8_t ip[4];
    uint16_t port;
    uint32_t seq;  // next sequence number this end sends
    uint16_t ipId;
    uint16_t window;
  };

  TcpFlow(const End& client, const End& server) : m_end{client, server} {}

  // One frame from `side` into `frame` (replaced). A SYN carries an MSS option.
  void Build(int side, uint8_t flags, const uint8_t* payload, size_t length,
             std::vector<uint8_t>& frame);

 private:
  End m_end[2];
};

}  // namespace gen
