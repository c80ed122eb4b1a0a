#include "streams/tds_header.h"

namespace {

bool PlausibleHeader(const uint8_t* h) {
  const size_t length = (size_t(h[2]) << 8) | h[3];
  return h[0] >= 1 && h[0] <= 16 && (h[1] & 0xF0) == 0 && length >= kTdsHeaderSize;
}

}  // namespace

bool PlausibleTdsStart(const uint8_t* data, size_t length) {
  if (length < kTdsHeaderSize || !PlausibleHeader(data)) return false;
  const size_t extent = TdsPacketExtent(data);
  if (extent + kTdsHeaderSize <= length) return PlausibleHeader(data + extent);
  return true;
}

bool LooksLikeLogin(const uint8_t* data, size_t length) {
  if (length < 1 || data[0] != kTdsLoginType) return false;
  if (length >= 2 && (data[1] & 0xF0) != 0) return false;
  if (length >= 4 && ((size_t(data[2]) << 8) | data[3]) < kTdsHeaderSize) return false;
  return true;
}
