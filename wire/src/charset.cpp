#include "tdswire/charset.h"

#include <cstring>

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
    {"koi8r", Charset::kKoi8},
};

// Server names, in the order of enum Charset.
constexpr const char* kServerNames[] = {
    "iso_1",  "utf8",   "ascii_8", "cp437",  "cp850",  "cp1250", "cp1251", "cp1252", "cp1253",
    "cp1254", "cp1255", "cp1256",  "cp1257", "cp1258", "roman8", "roman9", "iso15",  "koi8",
};
static_assert(sizeof(kServerNames) / sizeof(kServerNames[0]) ==
              static_cast<size_t>(Charset::kKoi8) + 1);
static_assert(static_cast<int>(Charset::kKoi8) - static_cast<int>(Charset::kAscii8) + 1 ==
              kSingleByteSets);

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(uint8_t byte, std::string& out) {
  const char escape[4] = {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
  out.append(escape, 4);
}

void AppendCodePoint(uint32_t cp, std::string& out) {
  char utf8[4];
  size_t n;
  if (cp < 0x80) {
    utf8[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    utf8[0] = static_cast<char>(0xC0 | (cp >> 6));
    utf8[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    utf8[0] = static_cast<char>(0xE0 | (cp >> 12));
    utf8[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    utf8[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    utf8[0] = static_cast<char>(0xF0 | (cp >> 18));
    utf8[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    utf8[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    utf8[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.append(utf8, n);
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

void AppendDecoded(Charset charset, const uint8_t* bytes, size_t size, std::string& out) {
  const uint16_t* table = nullptr;
  if (charset >= Charset::kAscii8 && charset <= Charset::kKoi8)
    table = kSingleByteTables[static_cast<int>(charset) - static_cast<int>(Charset::kAscii8)];
  const bool utf8 = charset == Charset::kUtf8;
  size_t i = 0;
  while (i < size) {
    // Every set reads bytes below 0x80 as ASCII: copy such runs as they are.
    size_t run = i;
    while (run < size && bytes[run] < 0x80) ++run;
    if (run > i) {
      out.append(reinterpret_cast<const char*>(bytes + i), run - i);
      i = run;
      continue;
    }
    if (utf8) {
      const size_t n = Utf8SequenceSize(bytes + i, size - i);
      if (n == 0) {
        AppendEscaped(bytes[i], out);
        ++i;
      } else {
        out.append(reinterpret_cast<const char*>(bytes + i), n);
        i += n;
      }
      continue;
    }
    const uint16_t cp = table ? table[bytes[i]] : bytes[i];
    if (cp == kNoChar)
      AppendEscaped(bytes[i], out);
    else
      AppendCodePoint(cp, out);
    ++i;
  }
}

void AppendUtf16(const uint8_t* bytes, size_t size, bool msbFirst, std::string& out) {
  auto unit = [&](size_t at) -> uint32_t {
    return msbFirst ? (uint32_t{bytes[at]} << 8 | bytes[at + 1])
                    : (uint32_t{bytes[at + 1]} << 8 | bytes[at]);
  };
  size_t i = 0;
  while (i + 2 <= size) {
    const uint32_t u = unit(i);
    if (u < 0xD800 || u > 0xDFFF) {
      AppendCodePoint(u, out);
      i += 2;
      continue;
    }
    if (u <= 0xDBFF && i + 4 <= size) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendCodePoint(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
        i += 4;
        continue;
      }
    }
    AppendEscaped(bytes[i], out);
    AppendEscaped(bytes[i + 1], out);
    i += 2;
  }
  if (i < size) AppendEscaped(bytes[i], out);
}
