// Token framing of real traffic: the length class of every token code.
#pragma once
#include <cstdint>

enum class TokenLength : uint8_t {
  kFixed,    // a fixed number of bytes after the type
  kLength1,  // 1-byte length
  kLength2,  // 2-byte length
  kLength4,  // 4-byte length
  kData,     // ROW, KEY, PARAMS, ALTROW: framed by the format in force
  kUnknown,  // no rule: the walk of the message ends
};

struct TokenFrame {
  TokenLength length;
  int32_t size;  // bytes of the whole token, type byte included; 0 for kData and kUnknown
  bool cut;      // the stated length runs past the available bytes (size is what is there)
};

// The length class of a token code and, for fixed tokens, the bytes after the type.
TokenLength TokenLengthOf(uint8_t code, int32_t* fixedSize = nullptr);
// Frames the token at `at` (available > 0).
TokenFrame FrameToken(const uint8_t* at, int32_t available, bool msbFirst);
// The token's name as real traffic knows it ("ROWFMT2", "CURDECLARE3", ...) or null.
const char* WireTokenName(uint8_t code);
