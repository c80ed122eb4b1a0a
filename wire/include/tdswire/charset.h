// Character sets of a connection (the login's, then ENVCHANGE type 3) and decoding their bytes
// to UTF-8. A byte or sequence that does not decode is kept as a mark that no decoded character
// can be confused with (in a multi-byte set, the lead byte of a character that does not decode:
// the bytes after it are read again from there): the three bytes ED, B0 + (byte >> 6),
// 80 + (byte & 3F), the UTF-8 form of the lone surrogate U+DC00 + byte, which no decoded text
// holds. The outputs show it as \xNN and a literal backslash as \\, so the two differ.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t kUndecodedLead = 0xED;  // the first byte of the mark of an undecoded byte

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
  // Multi-byte sets, ASCII below 0x80 between characters, decoded through the C library's
  // iconv (the supersets a server's clients send: Windows-31J for sjis, GBK for eucgb, CP949
  // for eucksc).
  kSjis,
  kEucJis,
  kEucGb,
  kEucKsc,
  kBig5,
  kGb18030,
};

// The character set of a server's name for it ("utf8", "iso_1", "cp850", "roman8", ...),
// matched without regard to case; unknown names give kIso1 and *known = false.
Charset CharsetByName(const char* name, size_t size, bool* known = nullptr);
// The server's name of a character set ("iso_1", "utf8", ...).
const char* CharsetName(Charset charset);

// The most bytes decoding `size` bytes writes: a byte that does not decode takes three (its
// mark), the longest UTF-8 sequence takes four for the two or four bytes of a UTF-16 character.
constexpr size_t DecodedRoom(size_t size) {
  return 4 * size;
}

// Writes the bytes decoded from the character set as UTF-8 at `out`, which has room for
// DecodedRoom(size) bytes, and returns the end. *plain (when given) tells whether the text is
// all printable ASCII without a quote or a backslash, so that no output needs to escape it.
char* DecodeTo(Charset charset, const uint8_t* bytes, size_t size, char* out, bool* plain);
// UTF-16 code units (2 bytes each, in the given byte order) written as UTF-8, as DecodeTo; an
// odd last byte and unpaired surrogates are kept as marks of their bytes.
char* Utf16To(const uint8_t* bytes, size_t size, bool msbFirst, char* out, bool* plain);

// Appends the bytes decoded from the character set as UTF-8.
void AppendDecoded(Charset charset, const uint8_t* bytes, size_t size, std::string& out);
// Appends UTF-16 code units (2 bytes each, in the given byte order) as UTF-8, as Utf16To.
void AppendUtf16(const uint8_t* bytes, size_t size, bool msbFirst, std::string& out);
