// Generated TDS 5.0 traffic: many client connections to one server port, interleaved, each a
// login, a run of commands (language queries with result sets, RPCs, messages, cursors) and a
// logout, written as a classic pcap.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace gen {

struct TrafficOptions {
  uint64_t size = 200000000;  // stop opening connections once the capture has this many bytes
  uint64_t seed = 1;
  uint32_t concurrency = 32;  // connections open at the same time
  uint16_t serverPort = 5000;
};

struct TrafficSummary {
  uint64_t bytes = 0;   // of the capture file
  uint64_t frames = 0;  // records
  uint64_t connections = 0;
  uint64_t payloadBytes = 0;  // TCP payload (TDS bytes)
};

// Writes the capture; false when writing failed.
bool GenerateCapture(const TrafficOptions& options, FILE* out, TrafficSummary& summary);

// One connection's frames, one at a time, for callers that want single conversations.
class Session {
 public:
  Session(uint64_t seed, uint32_t number, uint16_t serverPort);
  ~Session();
  Session(Session&&) noexcept;
  Session& operator=(Session&&) noexcept;

  // The next Ethernet frame of the connection; false once the connection is closed. With
  // wrapUp the connection logs out at the next command boundary.
  bool NextFrame(bool wrapUp, std::vector<uint8_t>& frame, uint32_t& payloadBytes);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace gen
