// The hex text format: one frame per line, "[CONN]DIR HEX", DIR "c" (client to server) or "s",
// CONN a connection number (1 when left out), HEX the TDS payload with any blanks between the
// digits. Empty lines and lines starting with "#" are skipped. Each payload is wrapped in an
// Ethernet/IPv4/TCP frame: client 192.0.2.1 port 40000+CONN (02:00:00:00:00:01), server
// 198.51.100.1 port 5000 (02:00:00:00:00:02), sequence numbers running on per direction.
// Frame N carries the capture time N milliseconds after 1970-01-01T00:00:00Z.
#pragma once

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "input/frame_source.h"

class HexSource : public FrameSource {
 public:
  static constexpr uint32_t kMaxConnection = 65535 - 40000;
  static constexpr size_t kMaxPayload = 65535 - 40;  // what one IPv4 packet can carry

  // `name` is how messages refer to the input.
  HexSource(FILE* in, std::string name);

  bool Next(InputFrame& frame) override;
  uint64_t position() const override;
  uint64_t line() const { return m_line; }

 private:
  bool Fail(const std::string& why);
  void BuildFrame(uint32_t conn, bool clientToServer);

  FILE* m_in;
  std::string m_name;
  uint64_t m_line = 0;
  uint64_t m_read = 0;
  uint64_t m_frames = 0;
  std::vector<uint8_t> m_payload;
  std::vector<uint8_t> m_frame;
  struct Sequences {
    uint32_t next[2];
  };
  std::unordered_map<uint32_t, Sequences> m_seq;
};
