// Framing of one direction's in-order bytes into whole TDS packets. Each call hands over the
// complete packets that the bytes given finish (a packet begun earlier included); the bytes of
// an incomplete last packet are held for the next call. A header whose length is below 8
// counts as 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streams/tds_header.h"

struct FramedBytes {
  const uint8_t* data = nullptr;
  size_t length = 0;
  // data points into the bytes given to Feed (else into the caller's scratch buffer).
  bool inInput = false;
};

class PacketFramer {
 public:
  enum class Mode : uint8_t {
    kFraming,       // packet boundaries known
    kWaitForStart,  // a stream joined midway: bytes are passed over until a packet starts
    kResync,        // after lost bytes: whole pieces go out as they are until a packet starts
  };

  // A held packet never exceeds the largest TDS packet, so this ceiling is never reached by
  // well-formed traffic; it is a parameter so that smaller ones can be tested.
  static constexpr size_t kDefaultHeldCeiling = kTdsMaxPacket;

  explicit PacketFramer(Mode start = Mode::kFraming, size_t heldCeiling = kDefaultHeldCeiling)
      : m_mode(start), m_ceiling(static_cast<uint32_t>(heldCeiling)) {}

  // Takes the next bytes of the stream. True when something is handed over in `out`; assembled
  // bytes are written into `scratch`, which must outlive the use of `out`.
  bool Feed(const uint8_t* data, size_t length, std::vector<uint8_t>& scratch, FramedBytes& out);
  // Bytes before the next Feed are lost: held bytes go out as they are, and framing starts
  // again at the next piece that begins with a packet header.
  bool Gap(std::vector<uint8_t>& scratch, FramedBytes& out);
  // The stream ends: held bytes go out as they are.
  bool End(std::vector<uint8_t>& scratch, FramedBytes& out);

  Mode mode() const { return m_mode; }
  size_t held() const { return m_held.size(); }
  size_t heldCapacity() const { return m_held.capacity(); }
  uint64_t skippedBytes() const { return m_skipped; }
  uint64_t flushedBytes() const { return m_flushed; }  // held bytes handed over as they were

 private:
  bool Frame(const uint8_t* data, size_t length, std::vector<uint8_t>& scratch, FramedBytes& out);
  bool FlushHeld(std::vector<uint8_t>& scratch, FramedBytes& out);
  void Hold(const uint8_t* data, size_t length);
  void ClearHeld();

  Mode m_mode;
  uint32_t m_ceiling;  // at most 4 GiB
  std::vector<uint8_t> m_held;
  uint64_t m_skipped = 0;
  uint64_t m_flushed = 0;
};
