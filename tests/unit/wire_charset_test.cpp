// Character sets: names a server gives, bytes of each set decoded to UTF-8, UTF-16 in both
// byte orders, and what does not decode kept as the mark of its byte (written \xNN here).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bytes.h"
#include "tdswire/charset.h"

namespace {

// Decoded text with the mark of each undecoded byte written as \xNN.
std::string Shown(const std::string& decoded) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(decoded[i]);
    const uint8_t next = i + 1 < decoded.size() ? static_cast<uint8_t>(decoded[i + 1]) : 0;
    if (c == kUndecodedLead && (next & 0xFC) == 0xB0 && i + 2 < decoded.size()) {
      const uint8_t byte = static_cast<uint8_t>((next & 3) << 6 | (decoded[i + 2] & 0x3F));
      s += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
      i += 2;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

TEST(WireCharset, NamesAndAliases) {
  const struct {
    const char* name;
    Charset charset;
    bool known;
  } cases[] = {
      {"iso_1", Charset::kIso1, true},
      {"ISO88591", Charset::kIso1, true},
      {"iso-8859-1", Charset::kIso1, true},
      {"utf8", Charset::kUtf8, true},
      {"UTF-8", Charset::kUtf8, true},
      {"ascii_8", Charset::kAscii8, true},
      {"cp850", Charset::kCp850, true},
      {"CP1252", Charset::kCp1252, true},
      {"cp1258", Charset::kCp1258, true},
      {"Roman8", Charset::kRoman8, true},
      {"roman9", Charset::kRoman9, true},
      {"iso15", Charset::kIso15, true},
      {"koi8", Charset::kKoi8, true},
      {"sjis", Charset::kSjis, true},
      {"eucjis", Charset::kEucJis, true},
      {"EUC-JP", Charset::kEucJis, true},
      {"eucgb", Charset::kEucGb, true},
      {"eucksc", Charset::kEucKsc, true},
      {"big5", Charset::kBig5, true},
      {"gb18030", Charset::kGb18030, true},
      {"big5hkscs", Charset::kIso1, false},
      {"", Charset::kIso1, false},
      {"utf8utf8utf8utf8utf8", Charset::kIso1, false},
  };
  for (const auto& c : cases) {
    bool known = !c.known;
    EXPECT_EQ(CharsetByName(c.name, std::strlen(c.name), &known), c.charset) << c.name;
    EXPECT_EQ(known, c.known) << c.name;
  }
  bool known = false;
  EXPECT_EQ(CharsetByName("utf8 \0", 6, &known), Charset::kUtf8);  // a padded field
  EXPECT_TRUE(known);
  EXPECT_EQ(CharsetByName("ut\0f8", 5, &known), Charset::kIso1);
  EXPECT_FALSE(known);
  for (int i = 0; i <= static_cast<int>(Charset::kGb18030); ++i) {
    const Charset charset = static_cast<Charset>(i);
    const std::string name = CharsetName(charset);
    EXPECT_EQ(CharsetByName(name.data(), name.size()), charset) << name;
  }
  EXPECT_STREQ(CharsetName(Charset::kIso1), "iso_1");
  EXPECT_STREQ(CharsetName(Charset::kAscii8), "ascii_8");
}

TEST(WireCharset, SingleByteSetsAndUtf8) {
  const struct {
    Charset charset;
    const char* hex;
    std::string text;
  } cases[] = {
      {Charset::kUtf8, "636166c3a9", "café"},
      {Charset::kUtf8, "f09f9880 e282ac 00 0a", std::string("😀€\0\n", 9)},
      {Charset::kUtf8, "61 ff 62", "a\\xffb"},
      {Charset::kUtf8, "c0af", "\\xc0\\xaf"},                // overlong
      {Charset::kUtf8, "e282", "\\xe2\\x82"},                // cut short
      {Charset::kUtf8, "e28241", "\\xe2\\x82A"},             // cut short by a character
      {Charset::kUtf8, "eda080", "\\xed\\xa0\\x80"},         // a surrogate
      {Charset::kUtf8, "f4908080", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {Charset::kUtf8, "80", "\\x80"},
      {Charset::kIso1, "636166e9 80", "café\u0080"},
      {Charset::kAscii8, "41e9", "A\\xe9"},
      {Charset::kCp437, "b082", "░é"},
      {Charset::kCp850, "829b", "éø"},
      {Charset::kCp1251, "c0", "А"},
      {Charset::kCp1252, "80 81 e9", "€\\x81é"},
      {Charset::kRoman8, "c5 ba ff", "é¤\\xff"},
      {Charset::kRoman9, "c5 ba", "é€"},
      {Charset::kIso15, "a4", "€"},
      {Charset::kKoi8, "c1", "а"},
  };
  for (const auto& c : cases) {
    const Bytes b = Hex(c.hex);
    std::string out = ">";
    AppendDecoded(c.charset, b.data(), b.size(), out);
    EXPECT_EQ(Shown(out), ">" + c.text) << CharsetName(c.charset) << " " << c.hex;
  }
}

// Multi-byte sets: a character ends where its lead byte says, whatever its trail bytes look
// like (sjis 0x93 0x5C is one character, not a backslash); bytes below 0x80 between characters
// are ASCII; a lead byte that begins no character, or is cut short, is escaped alone and the
// bytes after it are read again.
TEST(WireCharset, MultiByteSets) {
  const struct {
    Charset charset;
    const char* hex;
    std::string text;
  } cases[] = {
      {Charset::kSjis, "93fa967b 5c7e", "日本\\~"},
      {Charset::kSjis, "935c", "貼"},
      {Charset::kSjis, "b1 8740", "ｱ①"},
      {Charset::kSjis, "41 93", "A\\x93"},         // cut short
      {Charset::kSjis, "9320 80", "\\x93 \\x80"},  // no character
      {Charset::kEucJis, "c6fccbdc 8eb1 8fb0a1", "日本ｱ丂"},
      {Charset::kEucJis, "c641", "\\xc6A"},
      {Charset::kEucGb, "d6d0cec4", "中文"},
      {Charset::kEucKsc, "c7d1b1b9", "한국"},
      {Charset::kBig5, "a4a4a4e5 41", "中文A"},
      {Charset::kGb18030, "a2e3 8130d130 9534a034", "€ϼ𠬂"},
      {Charset::kGb18030, "8130", "\\x810"},  // a four-byte character cut short
  };
  for (const auto& c : cases) {
    const Bytes b = Hex(c.hex);
    std::string out = ">";
    AppendDecoded(c.charset, b.data(), b.size(), out);
    EXPECT_EQ(Shown(out), ">" + c.text) << CharsetName(c.charset) << " " << c.hex;
    // Decoded with the room the header promises, and never plain.
    std::string room(DecodedRoom(b.size()), '\0');
    bool plain = true;
    const char* end = DecodeTo(c.charset, b.data(), b.size(), &room[0], &plain);
    const char* begin = room.data();
    EXPECT_EQ(Shown(std::string(begin, end)), c.text);
    EXPECT_FALSE(plain);
  }
}

TEST(WireCharset, Utf16InBothByteOrders) {
  const struct {
    const char* bigEndian;
    std::string text;
  } cases[] = {
      {"0047 00fc 20ac", "Gü€"},      {"d83d de00 0041", "😀A"},
      {"d83d 0041", "\\xd8\\x3dA"},  // high surrogate alone
      {"de00", "\\xde\\x00"},        // low surrogate alone
      {"0041 d83d", "A\\xd8\\x3d"},  // high surrogate at the end
      {"0000", std::string("\0", 1)},
  };
  for (const auto& c : cases) {
    Bytes b = Hex(c.bigEndian);
    std::string out;
    AppendUtf16(b.data(), b.size(), true, out);
    EXPECT_EQ(Shown(out), c.text) << c.bigEndian;
    // Little-endian: each unit's bytes swapped, escapes name the bytes as they came.
    std::string swapped = c.text;
    for (size_t at = 0; (at = swapped.find("\\x", at)) != std::string::npos; at += 8)
      swapped.replace(at, 8, swapped.substr(at + 4, 4) + swapped.substr(at, 4));
    for (size_t i = 0; i + 1 < b.size(); i += 2) std::swap(b[i], b[i + 1]);
    out.clear();
    AppendUtf16(b.data(), b.size(), false, out);
    EXPECT_EQ(Shown(out), swapped) << c.bigEndian;
  }
  const Bytes odd = Hex("0041 00");
  std::string out;
  AppendUtf16(odd.data(), odd.size(), true, out);
  EXPECT_EQ(Shown(out), "A\\x00");
}

// Text that an output must escape (a quote, a backslash, a control character) is not plain.
TEST(WireCharset, Utf16PlainOnlyForPrintableAscii) {
  const struct {
    const char* bigEndian;
    bool plain;
  } cases[] = {
      {"0061 0062", true}, {"0061 0022", false}, {"005c", false},
      {"000a", false},     {"00e9", false},      {"0061 00", false},
  };
  for (const auto& c : cases) {
    const Bytes b = Hex(c.bigEndian);
    std::string room(DecodedRoom(b.size()), '\0');
    bool plain = !c.plain;
    Utf16To(b.data(), b.size(), true, &room[0], &plain);
    EXPECT_EQ(plain, c.plain) << c.bigEndian;
  }
}

}  // namespace
