// What the host itself needs to know of the TDS packet header (8 bytes: type, status, length
// most significant byte first, channel, packet number, window): a packet's extent, and whether
// bytes look like the start of a packet.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTdsHeaderSize = 8;
constexpr size_t kTdsMaxPacket = 65535;  // the length field's largest value
// Message types (the header's first byte) the host tells apart.
constexpr uint8_t kTdsLanguageType = 1;
constexpr uint8_t kTdsLoginType = 2;
constexpr uint8_t kTdsRpcType = 3;
constexpr uint8_t kTdsAttentionType = 6;
constexpr uint8_t kTdsBulkType = 7;
constexpr uint8_t kTdsLogoutType = 13;

// Bytes a packet occupies in the stream from the first four bytes of its header; a length
// below 8 counts as 8.
inline size_t TdsPacketExtent(const uint8_t* header) {
  const size_t length = (size_t(header[2]) << 8) | header[3];
  return length < kTdsHeaderSize ? kTdsHeaderSize : length;
}

// Whether the bytes begin with a header that makes sense: a known message type (1 to 16), only
// the four defined status bits, a length of at least 8. When the packet ends inside the bytes
// and a whole header follows it, that header must make sense too.
bool PlausibleTdsStart(const uint8_t* data, size_t length);

// Whether a client's first payload opens with a login packet header.
bool LooksLikeLogin(const uint8_t* data, size_t length);
