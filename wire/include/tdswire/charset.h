// Character sets of a connection (the login's, then ENVCHANGE type 3) and decoding their bytes
// to UTF-8. A byte or sequence that does not decode is written as the four characters \xNN, so
// nothing is dropped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum class Charset : uint8_t {
  kIso1,  // ISO-8859-1: also the default when the name is unknown or not given
  kUtf8,
  kAscii8,
  kCp437,
  kCp850,
  kCp1250,
  kCp1251,
  kCp1252,
  kCp1253,
  kCp1254,
  kCp1255,
  kCp1256,
  kCp1257,
  kCp1258,
  kRoman8,
  kRoman9,
  kIso15,
  kKoi8,
};

// The character set of a server's name for it ("utf8", "iso_1", "cp850", "roman8", ...),
// matched without regard to case; unknown names give kIso1 and *known = false.
Charset CharsetByName(const char* name, size_t size, bool* known = nullptr);
// The server's name of a character set ("iso_1", "utf8", ...).
const char* CharsetName(Charset charset);

// Appends the bytes decoded from the character set as UTF-8.
void AppendDecoded(Charset charset, const uint8_t* bytes, size_t size, std::string& out);
// Appends UTF-16 code units (2 bytes each, in the given byte order) as UTF-8; an odd last byte
// and unpaired surrogates are written as \xNN escapes.
void AppendUtf16(const uint8_t* bytes, size_t size, bool msbFirst, std::string& out);
