// How many bytes a token covers in a message, from its type byte and, where the token has one,
// its length field: framing apart from decoding.
#pragma once
#include <cstdint>

enum class ExtentKind : uint8_t {
  Sized,    // the size is known from the token itself
  DataRow,  // ROW, KEY, PARAMS, ALTROW: only the stored format tells where they end
  Unknown,  // a token type without a length rule: the rest of the message cannot be walked
};

struct TokenExtent {
  ExtentKind kind;
  int32_t size;  // for Sized: type byte included, capped by the bytes available
};

// The token at data[0], with `available` bytes of the message from there (at least 1). Length
// fields are read in the connection's byte order (1 most significant byte first, else least).
TokenExtent FrameToken(const uint8_t* data, int32_t available, int32_t byteOrder);
