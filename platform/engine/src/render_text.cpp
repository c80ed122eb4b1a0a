// Text rendering of a frame: a frame line, a line per packet, fields indented beneath.
//
// As in the JSON renderer, the fixed parts of a field's line (indent and label, the note and the
// newline) are kept per label, note, format, size and indent when the texts are constants of
// the plug-in, and the line is written straight into the buffer; everything else takes the
// general path, which writes the same bytes.
#include <cstring>

#include "constant_ranges.h"
#include "tdsengine/digits.h"
#include "tdsengine/field_value.h"
#include "tdsengine/render.h"
#include "text_cache.h"
#include "utf8.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";
constexpr int32_t kInlineDumpBytes = 32;  // longer dumps get hex-dump lines of their own
constexpr int32_t kDumpLineBytes = 16;
constexpr int kMaxDumpIndent = 8;  // deeper indents are put out ahead of the line

void PutIndent(OutBuffer& out, int indent) {
  for (int i = 0; i < indent; ++i) out.put("    ", 4);
}

void PutHexNumber(OutBuffer& out, uint64_t v, int32_t size) {
  out.put("0x", 2);
  for (int32_t i = size - 1; i >= 0; --i) out.putHexByte(static_cast<uint8_t>(v >> (8 * i)));
}

void PutHexBytes(OutBuffer& out, const uint8_t* data, int32_t size) {
  if (size > 0) out.putHex(data, static_cast<size_t>(size));
}

inline bool PlainQuoted(uint8_t c) {
  return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

// A string value in double quotes; printable ISO-8859-1 characters as UTF-8, others escaped.
// One byte below 0x80 in a quoted string: quotes, backslashes and control characters escaped.
void PutQuotedAscii(OutBuffer& out, uint8_t c) {
  if (c == '"' || c == '\\') {
    out.put('\\');
    out.put(static_cast<char>(c));
  } else if (c >= 0x20 && c < 0x7F) {
    out.put(static_cast<char>(c));
  } else if (c == '\n') {
    out.put("\\n", 2);
  } else if (c == '\r') {
    out.put("\\r", 2);
  } else if (c == '\t') {
    out.put("\\t", 2);
  } else if (c == 0) {
    out.put("\\0", 2);
  } else {
    char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};
    out.put(x, 4);
  }
}

void PutQuoted(OutBuffer& out, const uint8_t* data, int32_t size) {
  out.put('"');
  for (int32_t i = 0; i < size; ++i) {
    // Runs of printable ASCII go out in one piece.
    int32_t run = i;
    while (run < size && PlainQuoted(data[run])) ++run;
    if (run > i) {
      out.put(reinterpret_cast<const char*>(data + i), static_cast<size_t>(run - i));
      i = run;
      if (i == size) break;
    }
    const uint8_t c = data[i];
    if (c < 0x80) {
      PutQuotedAscii(out, c);
    } else if (c >= 0xA0) {
      out.put(static_cast<char>(0xC0 | (c >> 6)));
      out.put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};
      out.put(x, 4);
    }
  }
  out.put('"');
}

// Labels and notes are the plug-in's constants; control characters are escaped all the same so
// that one field stays on one line.
void PutText(OutBuffer& out, const char* s) {
  if (!s) return;
  for (; *s; ++s) {
    const char* run = s;
    while (static_cast<uint8_t>(*run) >= 0x20 && *run != 0x7F) ++run;
    if (run > s) {
      out.put(s, static_cast<size_t>(run - s));
      s = run;
      if (!*s) break;
    }
    const uint8_t c = static_cast<uint8_t>(*s);
    if (c < 0x20 || c == 0x7F) {
      char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};
      out.put(x, 4);
    } else {
      out.put(static_cast<char>(c));
    }
  }
}

// Per byte value: its two hex digits and a blank (the fourth byte is spare, for four-byte
// copies), and the character a dump line shows for it.
struct DumpTables {
  char hexBlank[256 * 4];
  char shown[256];
  constexpr DumpTables() : hexBlank(), shown() {
    const char kDigits[] = "0123456789abcdef";
    for (int c = 0; c < 256; ++c) {
      hexBlank[4 * c] = kDigits[c >> 4];
      hexBlank[4 * c + 1] = kDigits[c & 15];
      hexBlank[4 * c + 2] = ' ';
      hexBlank[4 * c + 3] = ' ';
      shown[c] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
  }
};
constexpr DumpTables kDump;

// The longest dump line, and room for the spare bytes of the fixed-size copies.
constexpr size_t kDumpLineRoom =
    4 * kMaxDumpIndent + 4 + 2 + 3 * kDumpLineBytes + 1 + kDumpLineBytes + 1 + 16;

// One dump line at p: indent (blanks of four), offset, hex bytes, characters, newline.
char* PutDumpLine(char* p, int blanks, uint32_t at, const uint8_t* bytes, int32_t n) {
  for (int i = 0; i < blanks; ++i, p += 4) std::memcpy(p, "    ", 4);
  // The offset's low four hex digits.
  std::memcpy(p, digits::kPairs.hex + 2 * ((at >> 8) & 0xFF), 2);
  std::memcpy(p + 2, digits::kPairs.hex + 2 * (at & 0xFF), 2);
  std::memcpy(p + 4, "  ", 2);
  p += 6;
  // Each byte's copy writes a spare fourth byte that the next piece overwrites.
  for (int32_t i = 0; i < n; ++i) std::memcpy(p + 3 * i, kDump.hexBlank + 4 * bytes[i], 4);
  for (int32_t i = n; i < kDumpLineBytes; ++i) std::memcpy(p + 3 * i, "   ", 3);
  p += 3 * kDumpLineBytes;
  *p++ = ' ';
#if defined(__SSE2__)
  if (n == kDumpLineBytes) {
    // Printable ASCII as it is, everything else as '.': signed compares leave bytes of 0x80
    // and above out.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i keep = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)),
                                       _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    const __m128i shown =
        _mm_or_si128(_mm_and_si128(keep, v), _mm_andnot_si128(keep, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), shown);
    p += kDumpLineBytes;
    *p++ = '\n';
    return p;
  }
#endif
  for (int32_t i = 0; i < n; ++i) p[i] = kDump.shown[bytes[i]];
  p += n;
  *p++ = '\n';
  return p;
}

void PutDumpLines(OutBuffer& out, const uint8_t* data, int32_t size, int indent) {
  // Each line goes out in one piece: straight into the buffer when it has room, else through
  // a copy here.
  char text[kDumpLineRoom];
  const int blanks = indent < kMaxDumpIndent ? indent : kMaxDumpIndent;
  for (int32_t line = 0; line < size; line += kDumpLineBytes) {
    PutIndent(out, indent - blanks);
    const int32_t n = size - line < kDumpLineBytes ? size - line : kDumpLineBytes;
    const uint32_t at = static_cast<uint32_t>(line);
    if (out.ensure(kDumpLineRoom)) {
      out.commit(PutDumpLine(out.cursor(), blanks, at, data + line, n));
    } else {
      const char* end = PutDumpLine(text, blanks, at, data + line, n);
      out.put(text, static_cast<size_t>(end - text));
    }
  }
}

// PutText into memory: the form the text cache keeps.
struct MemorySink {
  char* begin;
  size_t room;
  size_t size = 0;
  void put(const char* s, size_t n) {
    if (n <= room && size <= room - n) std::memcpy(begin + size, s, n);
    size += n;
  }
};

size_t EscapeTextTo(const char* text, size_t length, char* out, size_t room) {
  MemorySink sink{out, room};
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      const char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};
      sink.put(x, 4);
    } else {
      sink.put(text + i, 1);
    }
  }
  return sink.size;
}

TextCache g_plainTexts(EscapeTextTo);

// PutText, from the cache when the text is kept.
void PutConstText(OutBuffer& out, const char* text) {
  const TextCache::Entry* kept = g_plainTexts.Find(text);
  if (kept && out.ensure(TextCache::kRoom)) {
    out.commit(PutKept(out.cursor(), *kept));
    return;
  }
  PutText(out, text);
}

// How a field's value is shown (the choice the general path makes).
enum class TextKind {
  kNone,       // format none: the size in brackets, part of the head
  kUnsigned,   // decimal
  kSigned,     // signed
  kHexNumber,  // hex and flags of 1 to 4 bytes: 0x and the value's digits
  kString,
  kVersion,
  kLongDump,  // "(N bytes)", then dump lines
  kHexBytes,  // the bytes in hex on the line
};

TextKind TextKindOf(const FieldRecord& f) {
  if (f.format == FF_NONE) return TextKind::kNone;
  if (FieldIsInteger(f)) {
    if (f.format == FF_DECIMAL) return TextKind::kUnsigned;
    if (f.format == FF_SIGNED) return TextKind::kSigned;
    return TextKind::kHexNumber;
  }
  if (f.format == FF_STRING) return TextKind::kString;
  if (f.format == FF_VERSION) return TextKind::kVersion;
  if (f.size > kInlineDumpBytes) return TextKind::kLongDump;
  return TextKind::kHexBytes;
}

// The fixed parts of the line of every field with one label, note, format, size and indent.
struct TextShape {
  const char* label;
  const char* note;
  uint64_t formatAndSize;
  int32_t indent;
  bool kept;
  TextKind kind;
  uint8_t headSize;
  uint8_t tailSize;
  char head[64];  // indent, label, and ": " or " [N bytes]"
  char tail[64];  // the note, the newline
};

inline char* PutPiece(char* p, const char (&piece)[64], uint8_t size) {
  std::memcpy(p, piece, 32);
  if (size > 32) std::memcpy(p + 32, piece + 32, 32);
  return p + size;
}

// A line from its shape: the pieces and a number or the bytes of a short dump in hex.
constexpr size_t kLineRoom = 2 * 64 + 2 * kInlineDumpBytes + 2;

// Shapes of the lines written so far; static storage only (zeroed slots are empty).
class TextShapeCache {
 public:
  TextShapeCache() {
    OnConstantRangesChange([](void* cache) { static_cast<TextShapeCache*>(cache)->Clear(); }, this);
  }

  const TextShape* Find(const FieldRecord& f, int indent) {
    const uint64_t formatAndSize =
        (uint64_t(static_cast<uint32_t>(f.format)) << 32) | static_cast<uint32_t>(f.size);
    TextShape& s = m_shapes[Index(f.label, f.note, formatAndSize)];
    if (s.label == f.label && s.note == f.note && s.formatAndSize == formatAndSize &&
        s.indent == indent)
      return s.kept ? &s : nullptr;
    return Fill(s, f, formatAndSize, indent);
  }

 private:
  static constexpr unsigned kSlotBits = 10;

  static size_t Index(const char* label, const char* note, uint64_t formatAndSize) {
    const uint64_t key = reinterpret_cast<uintptr_t>(label) ^
                         (reinterpret_cast<uintptr_t>(note) * 0xC2B2AE3D27D4EB4Full) ^
                         (formatAndSize * 0x165667B19E3779F9ull);
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
  }

  void Clear() {
    for (TextShape& s : m_shapes) {
      s.label = nullptr;
      s.note = nullptr;
      s.formatAndSize = 0;
      s.indent = 0;
      s.kept = false;
    }
  }

  __attribute__((noinline)) static const TextShape* Fill(TextShape& s, const FieldRecord& f,
                                                         uint64_t formatAndSize, int indent) {
    s.label = f.label;
    s.note = f.note;
    s.formatAndSize = formatAndSize;
    s.indent = indent;
    s.kept = false;
    // The label's text is used before the note is looked up: the note may take its slot.
    const TextCache::Entry* label = g_plainTexts.Find(f.label);
    if (!label || indent < 0 || indent > 8) return nullptr;
    char piece[4 * 8 + TextCache::kRoom + 32];
    // Head.
    char* p = piece;
    for (int i = 0; i < indent; ++i, p += 4) std::memcpy(p, "    ", 4);
    std::memcpy(p, label->text, label->size);
    p += label->size;
    if (f.format == FF_NONE) {
      std::memcpy(p, " [", 2);
      p = digits::PutSignedDecimal(p + 2, f.size);
      const char* unit = f.size == 1 ? " byte]" : " bytes]";
      const size_t n = std::strlen(unit);
      std::memcpy(p, unit, n);
      p += n;
    } else {
      std::memcpy(p, ": ", 2);
      p += 2;
    }
    if (p - piece > 64) return nullptr;
    s.headSize = static_cast<uint8_t>(p - piece);
    std::memcpy(s.head, piece, s.headSize);
    const bool hasNote = f.note && *f.note;
    const TextCache::Entry* note = hasNote ? g_plainTexts.Find(f.note) : nullptr;
    if (hasNote && !note) return nullptr;
    // Tail.
    p = piece;
    if (note) {
      // Notes such as "rows" or "Columns" come without a leading blank; " byte(s)" has one.
      if (*f.note != ' ') *p++ = ' ';
      std::memcpy(p, note->text, note->size);
      p += note->size;
    }
    *p++ = '\n';
    if (p - piece > 64) return nullptr;
    s.tailSize = static_cast<uint8_t>(p - piece);
    std::memcpy(s.tail, piece, s.tailSize);
    s.kind = TextKindOf(f);
    s.kept = true;
    return &s;
  }

  TextShape m_shapes[size_t(1) << kSlotBits];
};

TextShapeCache g_textShapes;

// A decoded text that stands for the field's bytes while one field is written (UTF-8).
const char* g_textOverride = nullptr;
size_t g_textOverrideSize = 0;

// Decoded UTF-8 text: control characters and backslashes escaped (quotes too when `quoted`),
// C1 control characters as \u0080 to \u009f, an undecoded byte (and a byte that is not UTF-8)
// as \xNN.
void PutEscapedUtf8(OutBuffer& out, const char* text, size_t size, bool quoted) {
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
  size_t i = 0;
  while (i < size) {
    // Runs of printable ASCII go out in one piece.
    size_t run = i;
    while (run < size && PlainQuoted(s[run])) ++run;
    if (run > i) {
      out.put(text + i, run - i);
      i = run;
      if (i == size) break;
    }
    const uint8_t c = s[i];
    if (c < 0x80) {
      if (c == '"' && !quoted)
        out.put('"');
      else
        PutQuotedAscii(out, c);
      ++i;
      continue;
    }
    char escape[6];
    size_t escapeSize = 0;
    if (const size_t taken = TextEscapeAt(s + i, size - i, escape, escapeSize)) {
      out.put(escape, escapeSize);
      i += taken;
    } else if (const size_t n = Utf8SequenceLength(s + i, size - i)) {
      out.put(text + i, n);
      i += n;
    } else {
      const char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};  // not UTF-8
      out.put(x, 4);
      ++i;
    }
  }
}

void PutQuotedUtf8(OutBuffer& out, const char* text, size_t size) {
  out.put('"');
  PutEscapedUtf8(out, text, size, true);
  out.put('"');
}

void RenderFieldTextScanned(const FieldRecord& f, int indent, OutBuffer& out) {
  PutIndent(out, indent);
  PutText(out, f.label);
  bool longDump = false;
  if (f.format == FF_NONE) {
    out.put(" [", 2);
    out.putSigned(f.size);
    out.put(f.size == 1 ? " byte]" : " bytes]");
  } else {
    out.put(": ", 2);
    if (FieldIsInteger(f) && !g_textOverride) {
      if (f.format == FF_DECIMAL)
        out.putUnsigned(FieldUnsigned(f));
      else if (f.format == FF_SIGNED)
        out.putSigned(FieldSigned(f));
      else
        PutHexNumber(out, FieldUnsigned(f), f.size);
    } else if (g_textOverride) {
      PutQuotedUtf8(out, g_textOverride, g_textOverrideSize);
    } else if (f.format == FF_STRING) {
      PutQuoted(out, f.data, f.size);
    } else if (f.format == FF_VERSION) {
      for (int32_t i = 0; i < f.size; ++i) {
        if (i) out.put('.');
        out.putUnsigned(f.data[i]);
      }
    } else if (f.size > kInlineDumpBytes) {
      longDump = true;
      out.put('(');
      out.putSigned(f.size);
      out.put(" bytes)");
    } else {
      PutHexBytes(out, f.data, f.size);
    }
  }
  const bool hasTable = f.table && f.rows > 0;
  if (hasTable && f.format != FF_FLAGS) {
    const int row = FindTableRow(f.table, f.rows, static_cast<uint32_t>(LoadUnsigned(f)));
    out.put(" (", 2);
    PutText(out, row >= 0 ? f.table[row].text : "");
    out.put(')');
  }
  if (f.note && *f.note) {
    // Notes such as "rows" or "Columns" come without a leading blank; " byte(s)" has one.
    if (*f.note != ' ') out.put(' ');
    PutText(out, f.note);
  }
  out.put('\n');
  if (longDump) PutDumpLines(out, f.data, f.size, indent + 1);
  if (hasTable && f.format == FF_FLAGS) {
    ForEachBitText(f, [&](const char* text) {
      PutIndent(out, indent + 1);
      PutText(out, text);
      out.put('\n');
    });
  }
}

__attribute__((always_inline)) inline void PutFieldText(const FieldRecord& f, int indent,
                                                        OutBuffer& out) {
  const TextShape* s = g_textShapes.Find(f, indent);
  if (!s || !out.ensure(kLineRoom)) {
    RenderFieldTextScanned(f, indent, out);
    return;
  }
  char* p = PutPiece(out.cursor(), s->head, s->headSize);
  bool written = true;
  switch (s->kind) {
    case TextKind::kNone:
      break;
    case TextKind::kUnsigned:
      p = digits::PutDecimal(p, LoadUnsigned(f));
      break;
    case TextKind::kSigned: {
      const uint64_t v = LoadUnsigned(f);
      int64_t value = static_cast<int64_t>(v);
      if (f.size <= 0) {
        value = 0;
      } else if (f.size < 8) {
        const uint64_t sign = uint64_t(1) << (8 * f.size - 1);
        value = static_cast<int64_t>((v ^ sign) - sign);
      }
      p = digits::PutSignedDecimal(p, value);
      break;
    }
    case TextKind::kHexNumber: {
      // 0x and the value's bytes, most significant first (1 to 4 of them).
      const uint64_t v = LoadUnsigned(f);
      std::memcpy(p, "0x", 2);
      p += 2;
      for (int32_t i = f.size - 1; i >= 0; --i, p += 2)
        std::memcpy(p, digits::kPairs.hex + 2 * ((v >> (8 * i)) & 0xFF), 2);
      break;
    }
    case TextKind::kHexBytes:
      if (f.size > 0) p = digits::PutHexBytes(p, f.data, static_cast<size_t>(f.size));
      break;
    default:
      written = false;
      break;
  }
  const bool hasTable = f.table && f.rows > 0;
  if (written && !hasTable) {
    out.commit(PutPiece(p, s->tail, s->tailSize));
    return;
  }
  out.commit(p);
  bool longDump = false;
  if (!written) {
    if (s->kind == TextKind::kString) {
      PutQuoted(out, f.data, f.size);
    } else if (s->kind == TextKind::kVersion) {
      for (int32_t i = 0; i < f.size; ++i) {
        if (i) out.put('.');
        out.putUnsigned(f.data[i]);
      }
    } else {
      longDump = true;
      out.put('(');
      out.putSigned(f.size);
      out.put(" bytes)");
    }
  }
  if (hasTable && f.format != FF_FLAGS) {
    const int row = FindTableRow(f.table, f.rows, static_cast<uint32_t>(LoadUnsigned(f)));
    out.put(" (", 2);
    PutConstText(out, row >= 0 ? f.table[row].text : "");
    out.put(')');
  }
  out.put(s->tail, s->tailSize);
  if (longDump) PutDumpLines(out, f.data, f.size, indent + 1);
  if (hasTable && f.format == FF_FLAGS) {
    ForEachBitText(f, [&](const char* text) {
      PutIndent(out, indent + 1);
      PutConstText(out, text);
      out.put('\n');
    });
  }
}

}  // namespace

void RenderFieldText(const FieldRecord& f, int indent, OutBuffer& out) {
  PutFieldText(f, indent, out);
}

void RenderFieldsText(const FieldRecord* fields, size_t count, int indent, OutBuffer& out) {
  for (size_t i = 0; i < count; ++i) PutFieldText(fields[i], indent, out);
}

void RenderFrameText(const DisplayTree& tree, const FrameMeta& meta, OutBuffer& out) {
  out.put("Frame ");
  out.putUnsigned(meta.frame);
  out.put(": connection ");
  out.putUnsigned(meta.conn);
  out.put(meta.clientToServer ? ", client to server, " : ", server to client, ");
  out.putSigned(meta.tdsBytes);
  out.put(" TDS bytes, result ");
  out.putSigned(meta.result);
  out.put('\n');
  const std::string& summaries = tree.summaries();
  const std::vector<FieldRecord>& fields = tree.fields();
  for (const PacketRecord& p : tree.packets()) {
    PutIndent(out, 1);
    if (*p.longName || *p.shortName) {
      PutText(out, *p.longName ? p.longName : p.shortName);
      if (*p.longName && *p.shortName) {
        out.put(" (", 2);
        PutText(out, p.shortName);
        out.put(')');
      }
    } else {
      out.put("(untitled)");
    }
    if (p.summaryEnd > p.summaryBegin) {
      out.put(": ", 2);
      for (uint32_t i = p.summaryBegin; i < p.summaryEnd; ++i) {
        const uint8_t c = static_cast<uint8_t>(summaries[i]);
        out.put(c < 0x20 ? ' ' : static_cast<char>(c));
      }
    }
    out.put('\n');
    RenderFieldsText(fields.data() + p.firstField, p.fieldCount, 2, out);
    if (p.refused) {
      PutIndent(out, 2);
      out.put("[Refused: ");
      PutText(out, p.refusal.label);
      out.put(" needs ");
      out.putSigned(p.refusal.size);
      out.put(" bytes, ");
      out.putSigned(p.refusal.left);
      out.put(" left in the frame]\n");
    }
  }
  out.put('\n');
}

void RenderRecordFieldsText(const DisplayTree& tree, const PacketRecord& record, int indent,
                            OutBuffer& out) {
  const FieldRecord* fields = tree.fields().data() + record.firstField;
  for (uint32_t i = 0; i < record.fieldCount; ++i) {
    const FieldRecord& f = fields[i];
    if (f.textBegin < 0) {
      PutFieldText(f, indent, out);
      continue;
    }
    g_textOverride = tree.texts().data() + f.textBegin;
    g_textOverrideSize = static_cast<size_t>(f.textSize);
    RenderFieldTextScanned(f, indent, out);
    g_textOverride = nullptr;
  }
}

void RenderValueText(const DisplayTree& tree, const ValueRecord& v, OutBuffer& out) {
  const char* texts = tree.texts().data();
  switch (v.kind) {
    case VK_NULL:
      out.put("NULL", 4);
      break;
    case VK_CHARS:
      if (v.flags & VF_PLAIN_VALUE) {
        out.put('"');
        out.put(texts + v.textBegin, v.textSize);
        out.put('"');
      } else {
        PutQuotedUtf8(out, texts + v.textBegin, v.textSize);
      }
      break;
    default:
      out.put(texts + v.textBegin, v.textSize);
      break;
  }
}

void RenderValuesText(const DisplayTree& tree, const PacketRecord& record, int indent,
                      OutBuffer& out) {
  const char* texts = tree.texts().data();
  const ValueRecord* values = tree.values().data() + record.firstValue;
  for (uint32_t i = 0; i < record.valueCount; ++i) {
    const ValueRecord& v = values[i];
    PutIndent(out, indent);
    if (v.flags & VF_PLAIN_NAME)
      out.put(texts + v.nameBegin, v.nameSize);
    else
      PutEscapedUtf8(out, texts + v.nameBegin, v.nameSize, false);
    // A value without a name (a parameter sent without one) starts with its type.
    if (v.nameSize) out.put(' ');
    out.put('(');
    out.put(v.type);
    out.put("): ", 3);
    RenderValueText(tree, v, out);
    out.put('\n');
  }
}
