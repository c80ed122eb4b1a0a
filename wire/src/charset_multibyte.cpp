#include "charset_multibyte.h"

#include <iconv.h>

namespace {

constexpr int kMultiByteSets =
    static_cast<int>(Charset::kGb18030) - static_cast<int>(Charset::kSjis) + 1;

// The C library's name of each set, in the order of enum Charset.
constexpr const char* kIconvNames[kMultiByteSets] = {
    "CP932",  // sjis, as Windows clients send it: ASCII below 0x80, NEC and IBM extensions
    "EUC-JP", "GBK", "CP949", "BIG5", "GB18030",
};

// A conversion to UTF-8 per set, opened when first needed and kept for the process.
struct Converter {
  iconv_t handle;
  bool tried;
};
Converter g_converters[kMultiByteSets];

iconv_t ConverterOf(Charset charset) {
  const int index = static_cast<int>(charset) - static_cast<int>(Charset::kSjis);
  Converter& c = g_converters[index];
  if (!c.tried) {
    c.tried = true;
    c.handle = iconv_open("UTF-8", kIconvNames[index]);
  }
  return c.handle;
}

bool Within(uint8_t b, uint8_t low, uint8_t high) {
  return b >= low && b <= high;
}

}  // namespace

size_t MultiByteCharSize(Charset charset, const uint8_t* at, size_t left) {
  const uint8_t lead = at[0];
  size_t n = 0;
  switch (charset) {
    case Charset::kSjis:
      // Half-width katakana are single bytes.
      if (Within(lead, 0xA1, 0xDF)) return 1;
      if (Within(lead, 0x81, 0x9F) || Within(lead, 0xE0, 0xFC)) n = 2;
      break;
    case Charset::kEucJis:
      if (lead == 0x8F)
        n = 3;  // JIS X 0212
      else if (lead == 0x8E || Within(lead, 0xA1, 0xFE))
        n = 2;
      break;
    case Charset::kEucGb:
    case Charset::kEucKsc:
    case Charset::kBig5:
      if (Within(lead, 0x81, 0xFE)) n = 2;
      break;
    case Charset::kGb18030:
      // Four bytes when the second is a digit.
      if (Within(lead, 0x81, 0xFE)) n = left >= 2 && Within(at[1], 0x30, 0x39) ? 4 : 2;
      break;
    default:
      break;
  }
  return n <= left ? n : 0;
}

char* PutMultiByte(Charset charset, const uint8_t* at, size_t size, char* out) {
  const iconv_t handle = ConverterOf(charset);
  if (handle == reinterpret_cast<iconv_t>(-1)) return nullptr;
  iconv(handle, nullptr, nullptr, nullptr, nullptr);  // from the initial state
  char* in = const_cast<char*>(reinterpret_cast<const char*>(at));
  size_t inLeft = size;
  char* cursor = out;
  size_t outLeft = 4 * size;
  if (iconv(handle, &in, &inLeft, &cursor, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
    return nullptr;
  return cursor;
}
