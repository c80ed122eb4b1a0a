#include "tdswire/charset.h"

#include <cstring>

#include "charset_multibyte.h"
#include "charset_tables.h"

namespace {

struct NamedCharset {
  const char* name;  // lower case, without '-' and '_'
  Charset charset;
};

constexpr NamedCharset kNames[] = {
    {"iso1", Charset::kIso1},       {"iso88591", Charset::kIso1}, {"latin1", Charset::kIso1},
    {"utf8", Charset::kUtf8},       {"ascii8", Charset::kAscii8}, {"ascii", Charset::kAscii8},
    {"usascii", Charset::kAscii8},  {"cp437", Charset::kCp437},   {"cp850", Charset::kCp850},
    {"cp1250", Charset::kCp1250},   {"cp1251", Charset::kCp1251}, {"cp1252", Charset::kCp1252},
    {"cp1253", Charset::kCp1253},   {"cp1254", Charset::kCp1254}, {"cp1255", Charset::kCp1255},
    {"cp1256", Charset::kCp1256},   {"cp1257", Charset::kCp1257}, {"cp1258", Charset::kCp1258},
    {"roman8", Charset::kRoman8},   {"roman9", Charset::kRoman9}, {"iso15", Charset::kIso15},
    {"iso885915", Charset::kIso15}, {"latin9", Charset::kIso15},  {"koi8", Charset::kKoi8},
    {"koi8r", Charset::kKoi8},      {"sjis", Charset::kSjis},     {"shiftjis", Charset::kSjis},
    {"cp932", Charset::kSjis},      {"eucjis", Charset::kEucJis}, {"eucjp", Charset::kEucJis},
    {"eucgb", Charset::kEucGb},     {"gb2312", Charset::kEucGb},  {"euccn", Charset::kEucGb},
    {"gbk", Charset::kEucGb},       {"cp936", Charset::kEucGb},   {"eucksc", Charset::kEucKsc},
    {"euckr", Charset::kEucKsc},    {"cp949", Charset::kEucKsc},  {"big5", Charset::kBig5},
    {"gb18030", Charset::kGb18030},
};

// Server names, in the order of enum Charset.
constexpr const char* kServerNames[] = {
    "iso_1",  "utf8",   "ascii_8", "cp437",  "cp850",  "cp1250", "cp1251", "cp1252",
    "cp1253", "cp1254", "cp1255",  "cp1256", "cp1257", "cp1258", "roman8", "roman9",
    "iso15",  "koi8",   "sjis",    "eucjis", "eucgb",  "eucksc", "big5",   "gb18030",
};
static_assert(sizeof(kServerNames) / sizeof(kServerNames[0]) ==
              static_cast<size_t>(Charset::kGb18030) + 1);
static_assert(static_cast<int>(Charset::kKoi8) - static_cast<int>(Charset::kAscii8) + 1 ==
              kSingleByteSets);

// Writers put their bytes at `p` and return the position after them; the caller has made room
// (DecodedRoom).
char* PutUndecoded(uint8_t byte, char* p) {
  p[0] = static_cast<char>(kUndecodedLead);
  p[1] = static_cast<char>(0xB0 | (byte >> 6));
  p[2] = static_cast<char>(0x80 | (byte & 0x3F));
  return p + 3;
}

char* PutCodePoint(uint32_t cp, char* p) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

// Printable ASCII but the quote and the backslash: text that any output takes as it is.
struct PlainBytes {
  bool plain[256];
  constexpr PlainBytes() : plain() {
    for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '"' && c != '\\';
  }
};
constexpr PlainBytes kPlain;

// Tests on eight bytes at once: whether any is zero, whether any is below n (n <= 0x80).
constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = 0x8080808080808080u;
inline uint64_t AnyZero(uint64_t w) {
  return (w - kOnes) & ~w & kHighs;
}
inline uint64_t AnyBelow(uint64_t w, uint8_t n) {
  return (w - kOnes * n) & ~w & kHighs;
}
// Eight ASCII bytes: whether one needs escaping in some output (control, quote, backslash, DEL).
inline bool AnyNotPlain(uint64_t w) {
  return (AnyBelow(w, 0x20) | AnyZero(w ^ (kOnes * '"')) | AnyZero(w ^ (kOnes * '\\')) |
          AnyZero(w ^ (kOnes * 0x7F))) != 0;
}

// Grows a string by `room`, lets `write` fill it, and keeps what was written.
template <typename Write>
void AppendWritten(std::string& out, size_t room, Write write) {
  const size_t at = out.size();
  out.resize(at + room);
  char* begin = &out[0] + at;
  out.resize(at + static_cast<size_t>(write(begin) - begin));
}

// The bytes of the well-formed UTF-8 sequence at `at`, or 0.
size_t Utf8SequenceSize(const uint8_t* at, size_t left) {
  const uint8_t lead = at[0];
  size_t n;
  uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (left < n || at[1] < low || at[1] > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if ((at[i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

Charset CharsetByName(const char* name, size_t size, bool* known) {
  // Names from fixed-size fields may come padded with blanks or NULs.
  while (size > 0 && (name[size - 1] == ' ' || name[size - 1] == '\0')) --size;
  char key[16];
  size_t keySize = 0;
  for (size_t i = 0; i < size && keySize < sizeof(key); ++i) {
    const char c = name[i];
    if (c == '-' || c == '_') continue;
    key[keySize++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (const NamedCharset& entry : kNames) {
    if (keySize < sizeof(key) && std::strlen(entry.name) == keySize &&
        std::memcmp(entry.name, key, keySize) == 0) {
      if (known) *known = true;
      return entry.charset;
    }
  }
  if (known) *known = false;
  return Charset::kIso1;
}

const char* CharsetName(Charset charset) {
  const size_t index = static_cast<size_t>(charset);
  return index < sizeof(kServerNames) / sizeof(kServerNames[0]) ? kServerNames[index] : "iso_1";
}

namespace {

// How a set reads the bytes from 0x80 up.
enum class HighBytes { kUtf8, kLatin1, kSingleByte, kMultiByte };

// DecodeTo for one kind of set (`table`: a single-byte set's code points).
template <HighBytes kHigh>
char* DecodeLoop(Charset charset, const uint16_t* table, const uint8_t* bytes, size_t size,
                 char* out, bool* plain) {
  bool allPlain = true;
  size_t i = 0;
  while (i < size) {
    // Every set reads bytes below 0x80 as ASCII: such runs are copied as they are, eight bytes
    // at a time while they last.
    if (size - i >= 8) {
      uint64_t w;
      std::memcpy(&w, bytes + i, 8);
      if ((w & kHighs) == 0) {
        if (allPlain && AnyNotPlain(w)) allPlain = false;
        std::memcpy(out, &w, 8);
        out += 8;
        i += 8;
        continue;
      }
    }
    const uint8_t b = bytes[i];
    if (b < 0x80) {
      allPlain &= kPlain.plain[b];
      *out++ = static_cast<char>(b);
      ++i;
      continue;
    }
    allPlain = false;
    if (kHigh == HighBytes::kUtf8) {
      const size_t n = Utf8SequenceSize(bytes + i, size - i);
      if (n == 0) {
        out = PutUndecoded(b, out);
        ++i;
      } else {
        std::memcpy(out, bytes + i, n);
        out += n;
        i += n;
      }
    } else if (kHigh == HighBytes::kLatin1) {
      out = PutCodePoint(b, out);
      ++i;
    } else if (kHigh == HighBytes::kSingleByte) {
      const uint16_t cp = table[b];
      out = cp == kNoChar ? PutUndecoded(b, out) : PutCodePoint(cp, out);
      ++i;
    } else {
      // One character; a lead byte that begins none is escaped alone.
      const size_t n = MultiByteCharSize(charset, bytes + i, size - i);
      char* const after = n ? PutMultiByte(charset, bytes + i, n, out) : nullptr;
      if (after) {
        out = after;
        i += n;
      } else {
        out = PutUndecoded(b, out);
        ++i;
      }
    }
  }
  if (plain) *plain = allPlain;
  return out;
}

}  // namespace

char* DecodeTo(Charset charset, const uint8_t* bytes, size_t size, char* out, bool* plain) {
  // The default set first: most connections use it.
  if (charset == Charset::kIso1)
    return DecodeLoop<HighBytes::kLatin1>(charset, nullptr, bytes, size, out, plain);
  if (charset == Charset::kUtf8)
    return DecodeLoop<HighBytes::kUtf8>(charset, nullptr, bytes, size, out, plain);
  if (charset >= Charset::kSjis)
    return DecodeLoop<HighBytes::kMultiByte>(charset, nullptr, bytes, size, out, plain);
  return DecodeLoop<HighBytes::kSingleByte>(
      charset, kSingleByteTables[static_cast<int>(charset) - static_cast<int>(Charset::kAscii8)],
      bytes, size, out, plain);
}

char* Utf16To(const uint8_t* bytes, size_t size, bool msbFirst, char* out, bool* plain) {
  bool allPlain = true;
  auto unit = [&](size_t at) -> uint32_t {
    return msbFirst ? (uint32_t{bytes[at]} << 8 | bytes[at + 1])
                    : (uint32_t{bytes[at + 1]} << 8 | bytes[at]);
  };
  size_t i = 0;
  while (i + 2 <= size) {
    const uint32_t u = unit(i);
    allPlain &= u < 0x80 && kPlain.plain[u];
    if (u < 0xD800 || u > 0xDFFF) {
      out = PutCodePoint(u, out);
      i += 2;
      continue;
    }
    if (u <= 0xDBFF && i + 4 <= size) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out = PutCodePoint(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
        i += 4;
        continue;
      }
    }
    out = PutUndecoded(bytes[i], out);
    out = PutUndecoded(bytes[i + 1], out);
    i += 2;
  }
  if (i < size) {
    out = PutUndecoded(bytes[i], out);
    allPlain = false;
  }
  if (plain) *plain = allPlain;
  return out;
}

void AppendDecoded(Charset charset, const uint8_t* bytes, size_t size, std::string& out) {
  AppendWritten(out, DecodedRoom(size),
                [&](char* p) { return DecodeTo(charset, bytes, size, p, nullptr); });
}

void AppendUtf16(const uint8_t* bytes, size_t size, bool msbFirst, std::string& out) {
  AppendWritten(out, DecodedRoom(size),
                [&](char* p) { return Utf16To(bytes, size, msbFirst, p, nullptr); });
}
