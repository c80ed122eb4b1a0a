// JSON Lines rendering of a frame's packets and fields.
//
// A field is written in up to three pieces, each straight into the output buffer after one room
// check: the head (label, offset, size, format and a numeric or short hex value), the table text
// or bits, and the note with the closing brace. Labels, notes and table texts that are constants
// of the plug-in come from a cache of their escaped form; any other text, and a buffer too small
// for a piece, takes the general path, which writes the same bytes through put().
#include <cstring>

#include "constant_ranges.h"
#include "tdsengine/digits.h"
#include "tdsengine/field_value.h"
#include "tdsengine/render.h"
#include "text_cache.h"
#include "utf8.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Bytes that go into a JSON string as they are: printable ASCII but the quote and the
// backslash. One lookup per byte keeps the scan of labels and values short.
struct PlainBytes {
  bool plain[256];
  constexpr PlainBytes() : plain() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  }
};
constexpr PlainBytes kPlain;

inline bool Plain(uint8_t c) {
  return kPlain.plain[c];
}

// Escaped text goes to an OutBuffer or, for the text cache, into memory of a fixed size: this
// sink counts every byte and writes those that fit.
struct MemorySink {
  char* begin;
  size_t room;
  size_t size = 0;
  void put(char c) {
    if (size < room) begin[size] = c;
    ++size;
  }
  void put(const char* s, size_t n) {
    if (n <= room && size <= room - n) std::memcpy(begin + size, s, n);
    size += n;
  }
};

// Escapes one ASCII byte into out; returns false when the byte needs no escape.
template <typename Sink>
inline bool PutEscape(Sink& out, uint8_t c) {
  switch (c) {
    case '"':
      out.put("\\\"", 2);
      return true;
    case '\\':
      out.put("\\\\", 2);
      return true;
    case '\b':
      out.put("\\b", 2);
      return true;
    case '\f':
      out.put("\\f", 2);
      return true;
    case '\n':
      out.put("\\n", 2);
      return true;
    case '\r':
      out.put("\\r", 2);
      return true;
    case '\t':
      out.put("\\t", 2);
      return true;
    default:
      break;
  }
  if (c < 0x20) {
    char u[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 15]};
    out.put(u, 6);
    return true;
  }
  return false;
}

// A character of code 0x80..0xFF as UTF-8.
template <typename Sink>
inline void PutLatin1High(Sink& out, uint8_t c) {
  out.put(static_cast<char>(0xC0 | (c >> 6)));
  out.put(static_cast<char>(0x80 | (c & 0x3F)));
}

void PutHexString(OutBuffer& out, const uint8_t* data, int32_t size) {
  out.put('"');
  if (size > 0) out.putHex(data, static_cast<size_t>(size));
  out.put('"');
}

void PutVersion(OutBuffer& out, const uint8_t* data, int32_t size) {
  // Four bytes make "a.b.c.d"; other sizes give every byte the same way.
  out.put('"');
  for (int32_t i = 0; i < size; ++i) {
    if (i) out.put('.');
    out.putUnsigned(data[i]);
  }
  out.put('"');
}

struct Literal {
  const char* text;
  size_t size;
};

template <size_t N>
constexpr Literal Lit(const char (&text)[N]) {
  return Literal{text, N - 1};
}

// The "format" member of a field, its key included.
Literal FormatMember(FIELD_FORMAT format) {
  switch (format) {
    case FF_DECIMAL:
      return Lit(", \"format\": \"decimal\"");
    case FF_STRING:
      return Lit(", \"format\": \"string\"");
    case FF_SPARE:
      return Lit(", \"format\": \"spare\"");
    case FF_HEX:
      return Lit(", \"format\": \"hex\"");
    case FF_FLAGS:
      return Lit(", \"format\": \"flags\"");
    case FF_SIGNED:
      return Lit(", \"format\": \"signed\"");
    case FF_DUMP:
      return Lit(", \"format\": \"dump\"");
    case FF_VERSION:
      return Lit(", \"format\": \"version\"");
    case FF_NONE:
      return Lit(", \"format\": \"none\"");
  }
  return Lit(", \"format\": \"dump\"");  // an unknown format code: the bytes are still shown
}

// A decoded text that stands for the field's bytes while one field is written.
const char* g_textOverride = nullptr;
size_t g_textOverrideSize = 0;

template <typename Sink>
void EscapeJson(Sink& out, const char* text, size_t length);

void PutValue(OutBuffer& out, const FieldRecord& f) {
  if (g_textOverride) {
    EscapeJson(out, g_textOverride, g_textOverrideSize);
    return;
  }
  if (FieldIsInteger(f)) {
    if (f.format == FF_SIGNED)
      out.putSigned(FieldSigned(f));
    else
      out.putUnsigned(FieldUnsigned(f));
    return;
  }
  switch (f.format) {
    case FF_STRING:
      JsonPutLatin1(out, f.data, static_cast<size_t>(f.size));
      return;
    case FF_VERSION:
      PutVersion(out, f.data, f.size);
      return;
    default:
      // dump, spare, and numbers too wide for a JSON integer
      PutHexString(out, f.data, f.size);
      return;
  }
}

inline void PutKey(OutBuffer& out, const char* key) {
  out.put(key);
}

// A JSON string literal of text[0, length), quotes included.
template <typename Sink>
void EscapeJson(Sink& out, const char* text, size_t length) {
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
  out.put('"');
  size_t i = 0;
  while (i < length) {
    // Runs of plain ASCII go out in one piece.
    size_t run = i;
    while (run < length && Plain(s[run])) ++run;
    if (run > i) {
      out.put(text + i, run - i);
      i = run;
      if (i == length) break;
    }
    const uint8_t c = s[i];
    if (c < 0x80) {
      PutEscape(out, c);
      ++i;
      continue;
    }
    const size_t n = Utf8SequenceLength(s + i, length - i);
    if (n) {
      out.put(text + i, n);
      i += n;
      continue;
    }
    const int undecoded = UndecodedByteAt(s + i, length - i);
    if (undecoded >= 0) {
      // A JSON string holds characters, not bytes: the byte is the text \xNN there.
      const char x[5] = {'\\', '\\', 'x', kHexDigits[undecoded >> 4], kHexDigits[undecoded & 15]};
      out.put(x, 5);
      i += 3;
    } else {
      PutLatin1High(out, c);  // not UTF-8: the byte is taken as its ISO-8859-1 character
      ++i;
    }
  }
  out.put('"');
}

size_t EscapeJsonTo(const char* text, size_t length, char* out, size_t room) {
  MemorySink sink{out, room};
  EscapeJson(sink, text, length);
  return sink.size;
}

// Escaped labels, notes and table texts of the plug-in, quotes included.
TextCache g_texts(EscapeJsonTo);

// The general path of JsonPutString(out, text): a text that is not kept.
void PutStringScanned(OutBuffer& out, const char* text) {
  if (!text) text = "";
  // Labels and notes are nearly always plain ASCII: one pass finds the end and the run.
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
  size_t run = 0;
  while (Plain(s[run])) ++run;
  if (s[run] == 0) {
    out.put('"');
    out.put(text, run);
    out.put('"');
    return;
  }
  EscapeJson(out, text, run + std::strlen(text + run));
}

// A fixed piece of JSON, copied whole: a key, or the format member with the value's key.
struct Piece {
  char text[32];
  uint32_t size;
};

template <size_t N>
constexpr Piece MakePiece(const char (&text)[N]) {
  static_assert(N - 1 <= sizeof(Piece::text), "piece too long");
  Piece piece{};
  for (size_t i = 0; i + 1 < N; ++i) piece.text[i] = text[i];
  piece.size = N - 1;
  return piece;
}

template <size_t N>
inline char* PutLiteral(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
}

// The format member and, for every format but none, the value's key; by format code + 1.
struct FormatPieces {
  Piece pieces[13];
  constexpr FormatPieces() : pieces() {
    // An unknown format code shows as a dump: the bytes are still shown.
    for (Piece& p : pieces) p = MakePiece(", \"format\": \"dump\", \"value\": ");
    pieces[FF_NONE + 1] = MakePiece(", \"format\": \"none\"");
    pieces[FF_DECIMAL + 1] = MakePiece(", \"format\": \"decimal\", \"value\": ");
    pieces[FF_STRING + 1] = MakePiece(", \"format\": \"string\", \"value\": ");
    pieces[FF_SPARE + 1] = MakePiece(", \"format\": \"spare\", \"value\": ");
    pieces[FF_HEX + 1] = MakePiece(", \"format\": \"hex\", \"value\": ");
    pieces[FF_FLAGS + 1] = MakePiece(", \"format\": \"flags\", \"value\": ");
    pieces[FF_SIGNED + 1] = MakePiece(", \"format\": \"signed\", \"value\": ");
    pieces[FF_DUMP + 1] = MakePiece(", \"format\": \"dump\", \"value\": ");
    pieces[FF_VERSION + 1] = MakePiece(", \"format\": \"version\", \"value\": ");
  }
};
constexpr FormatPieces kFormatPieces;

inline const Piece& FormatPiece(FIELD_FORMAT format) {
  const uint32_t index = static_cast<uint32_t>(format) + 1u;
  return kFormatPieces.pieces[index < 13 ? index : 0];
}

// How a field's value is written (the choice PutValue makes).
enum class ValueKind { kNone, kUnsigned, kSigned, kString, kVersion, kHex };

inline ValueKind KindOf(const FieldRecord& f) {
  switch (f.format) {
    case FF_NONE:
      return ValueKind::kNone;
    case FF_DECIMAL:
      return f.size <= 8 ? ValueKind::kUnsigned : ValueKind::kHex;
    case FF_SIGNED:
      return f.size <= 8 ? ValueKind::kSigned : ValueKind::kHex;
    case FF_FLAGS:
    case FF_HEX:
      return f.size >= 1 && f.size <= 4 ? ValueKind::kUnsigned : ValueKind::kHex;
    case FF_STRING:
      return ValueKind::kString;
    case FF_VERSION:
      return ValueKind::kVersion;
    default:
      return ValueKind::kHex;
  }
}

// FieldSigned on LoadUnsigned.
inline int64_t LoadSigned(const FieldRecord& f) {
  const uint64_t v = LoadUnsigned(f);
  if (f.size <= 0) return 0;
  if (f.size >= 8) return static_cast<int64_t>(v);
  const uint64_t sign = uint64_t(1) << (8 * f.size - 1);
  return static_cast<int64_t>((v ^ sign) - sign);
}

// Hex values up to this size are written with the rest of the field.
constexpr int32_t kShortHexBytes = 64;
// Room for a member of a kept text (key of at most 12 bytes) and the closing brace.
constexpr size_t kMemberRoom = 12 + TextCache::kRoom + 1;

// The fixed parts of the JSON of every field with one label, note, format and size: what comes
// before the offset, what lies between the offset and the value, and what follows the value
// (and the table text, when there is one).
struct Shape {
  const char* label;
  const char* note;
  uint64_t formatAndSize;
  bool kept;  // false: the label or note is not a kept text, or a piece would not fit
  ValueKind kind;
  uint8_t headSize;
  uint8_t midSize;
  uint8_t tailSize;
  char head[64];  // {"label": "...", "offset":
  char mid[64];   // , "size": N, "format": "...", "value":
  char tail[64];  // , "note": "..."}  or  }
};

// A piece of a shape: 32 bytes are copied when it fits in them, else all 64.
inline char* PutPiece(char* p, const char (&piece)[64], uint8_t size) {
  std::memcpy(p, piece, 32);
  if (size > 32) std::memcpy(p + 32, piece + 32, 32);
  return p + size;
}

// Room a field written from its shape needs: the pieces, the offset and a numeric or short hex
// value.
constexpr size_t kShapeRoom = 2 + 3 * 64 + 21 + 2 * kShortHexBytes + 2;

// Shapes of the fields rendered so far, by label, note, format and size. A shape is made only
// from texts the text cache keeps (constants), so it stays right for as long as they do.
// Static storage only (zeroed slots are empty).
class ShapeCache {
 public:
  ShapeCache() {
    OnConstantRangesChange([](void* cache) { static_cast<ShapeCache*>(cache)->Clear(); }, this);
  }

  const Shape* Find(const FieldRecord& f) {
    const uint64_t formatAndSize =
        (uint64_t(static_cast<uint32_t>(f.format)) << 32) | static_cast<uint32_t>(f.size);
    Shape& s = m_shapes[Index(f.label, f.note, formatAndSize)];
    if (s.label == f.label && s.note == f.note && s.formatAndSize == formatAndSize)
      return s.kept ? &s : nullptr;
    return Fill(s, f, formatAndSize);
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
    for (Shape& s : m_shapes) {
      s.label = nullptr;
      s.note = nullptr;
      s.formatAndSize = 0;
      s.kept = false;
    }
  }

  __attribute__((noinline)) static const Shape* Fill(Shape& s, const FieldRecord& f,
                                                     uint64_t formatAndSize) {
    s.label = f.label;
    s.note = f.note;
    s.formatAndSize = formatAndSize;
    s.kept = false;
    // The label's text is used before the note is looked up: the note may take its slot.
    const TextCache::Entry* label = g_texts.Find(f.label);
    if (!label) return nullptr;
    char piece[64 + TextCache::kRoom + 32];
    // Head.
    char* p = PutLiteral(piece, "{\"label\": ");
    std::memcpy(p, label->text, label->size);
    p = PutLiteral(p + label->size, ", \"offset\": ");
    if (p - piece > 64) return nullptr;
    s.headSize = static_cast<uint8_t>(p - piece);
    std::memcpy(s.head, piece, s.headSize);
    // Middle.
    p = PutLiteral(piece, ", \"size\": ");
    p = digits::PutSignedDecimal(p, f.size);
    const Piece& format = FormatPiece(f.format);
    std::memcpy(p, format.text, format.size);
    p += format.size;
    s.midSize = static_cast<uint8_t>(p - piece);  // 10 + 11 + 32 at most
    std::memcpy(s.mid, piece, s.midSize);
    const TextCache::Entry* note = f.note ? g_texts.Find(f.note) : nullptr;
    if (f.note && !note) return nullptr;
    // Tail.
    p = piece;
    if (note) {
      p = PutLiteral(p, ", \"note\": ");
      std::memcpy(p, note->text, note->size);
      p += note->size;
    }
    *p++ = '}';
    if (p - piece > 64) return nullptr;
    s.tailSize = static_cast<uint8_t>(p - piece);
    std::memcpy(s.tail, piece, s.tailSize);
    s.kind = KindOf(f);
    s.kept = true;
    return &s;
  }

  Shape m_shapes[size_t(1) << kSlotBits];
};

ShapeCache g_shapes;

// The head through put(), member by member.
void PutHeadScanned(const FieldRecord& f, OutBuffer& out) {
  PutKey(out, "{\"label\": ");
  PutStringScanned(out, f.label);
  PutKey(out, ", \"offset\": ");
  out.putSigned(f.offset);
  PutKey(out, ", \"size\": ");
  out.putSigned(f.size);
  const Literal format = FormatMember(f.format);
  out.put(format.text, format.size);
  if (f.format != FF_NONE) PutKey(out, ", \"value\": ");
}

// `key` and the JSON string of text; the closing brace of the field too when `close`.
template <size_t N>
inline void PutMember(OutBuffer& out, const char (&key)[N], const char* text, bool close) {
  const TextCache::Entry* kept = g_texts.Find(text);
  if (kept && out.ensure(kMemberRoom)) {
    char* p = PutLiteral(out.cursor(), key);
    p = PutKept(p, *kept);
    if (close) *p++ = '}';
    out.commit(p);
    return;
  }
  out.put(key, N - 1);
  PutStringScanned(out, text);
  if (close) out.put('}');
}

// The "text" member of a field with a value table, or the "bits" of a flags field.
void PutTableMember(const FieldRecord& f, OutBuffer& out) {
  if (f.format != FF_FLAGS) {
    const int row = FindTableRow(f.table, f.rows, static_cast<uint32_t>(LoadUnsigned(f)));
    PutMember(out, ", \"text\": ", row >= 0 ? f.table[row].text : "", false);
    return;
  }
  PutKey(out, ", \"bits\": [");
  bool first = true;
  ForEachBitText(f, [&](const char* text) {
    if (!first) out.put(", ", 2);
    first = false;
    JsonPutString(out, text);
  });
  out.put(']');
}

// A field whose shape is not kept, member by member.
void PutFieldScanned(const FieldRecord& f, OutBuffer& out) {
  PutHeadScanned(f, out);
  if (f.format != FF_NONE) PutValue(out, f);
  if (f.table && f.rows > 0) PutTableMember(f, out);
  if (f.note)
    PutMember(out, ", \"note\": ", f.note, true);
  else
    out.put('}');
}

// What follows the value when something was written through put() in between.
void PutRest(const FieldRecord& f, const Shape& s, bool valueWritten, OutBuffer& out) {
  if (!valueWritten) PutValue(out, f);
  if (f.table && f.rows > 0) PutTableMember(f, out);
  if (out.ensure(sizeof(s.tail)))
    out.commit(PutPiece(out.cursor(), s.tail, s.tailSize));
  else
    out.put(s.tail, s.tailSize);
}

// One field; `separate` puts ", " ahead of it.
__attribute__((always_inline)) inline void PutField(const FieldRecord& f, bool separate,
                                                    OutBuffer& out) {
  const Shape* s = g_shapes.Find(f);
  if (!s || !out.ensure(kShapeRoom)) {
    if (separate) out.put(", ", 2);
    PutFieldScanned(f, out);
    return;
  }
  char* p = out.cursor();
  if (separate) p = PutLiteral(p, ", ");
  p = PutPiece(p, s->head, s->headSize);
  p = digits::PutSignedDecimal(p, f.offset);
  p = PutPiece(p, s->mid, s->midSize);
  bool written = true;
  switch (s->kind) {
    case ValueKind::kNone:
      break;
    case ValueKind::kUnsigned:
      p = digits::PutDecimal(p, LoadUnsigned(f));
      break;
    case ValueKind::kSigned:
      p = digits::PutSignedDecimal(p, LoadSigned(f));
      break;
    case ValueKind::kHex:
      if (f.size <= kShortHexBytes) {
        *p++ = '"';
        if (f.size > 0) p = digits::PutHexBytes(p, f.data, static_cast<size_t>(f.size));
        *p++ = '"';
      } else {
        written = false;
      }
      break;
    default:
      written = false;
      break;
  }
  if (written && !(f.table && f.rows > 0)) {
    out.commit(PutPiece(p, s->tail, s->tailSize));
    return;
  }
  out.commit(p);
  PutRest(f, *s, written, out);
}

}  // namespace

void JsonPutString(OutBuffer& out, const char* text, size_t length) {
  EscapeJson(out, text, length);
}

void JsonPutString(OutBuffer& out, const char* text) {
  const TextCache::Entry* kept = g_texts.Find(text);
  if (kept && out.ensure(TextCache::kRoom)) {
    out.commit(PutKept(out.cursor(), *kept));
    return;
  }
  PutStringScanned(out, text);
}

void JsonPutLatin1(OutBuffer& out, const uint8_t* bytes, size_t length) {
  out.put('"');
  size_t i = 0;
  while (i < length) {
    size_t run = i;
    while (run < length && Plain(bytes[run])) ++run;
    if (run > i) {
      out.put(reinterpret_cast<const char*>(bytes + i), run - i);
      i = run;
      if (i == length) break;
    }
    const uint8_t c = bytes[i++];
    if (c < 0x80)
      PutEscape(out, c);
    else
      PutLatin1High(out, c);
  }
  out.put('"');
}

void RenderFieldJson(const FieldRecord& f, OutBuffer& out) {
  PutField(f, false, out);
}

void RenderFieldsJson(const FieldRecord* fields, size_t count, OutBuffer& out) {
  for (size_t i = 0; i < count; ++i) PutField(fields[i], i != 0, out);
}

void RenderPacketJson(const DisplayTree& tree, const PacketRecord& p, OutBuffer& out) {
  PutKey(out, "{\"title\": ");
  JsonPutString(out, p.shortName);
  PutKey(out, ", \"name\": ");
  JsonPutString(out, p.longName);
  PutKey(out, ", \"summary\": ");
  const std::string& summaries = tree.summaries();
  JsonPutString(out, summaries.data() + p.summaryBegin, p.summaryEnd - p.summaryBegin);
  PutKey(out, ", \"fields\": [");
  RenderFieldsJson(tree.fields().data() + p.firstField, p.fieldCount, out);
  out.put(']');
  if (p.refused) {
    PutKey(out, ", \"refused\": {\"label\": ");
    JsonPutString(out, p.refusal.label);
    PutKey(out, ", \"size\": ");
    out.putSigned(p.refusal.size);
    PutKey(out, ", \"left\": ");
    out.putSigned(p.refusal.left);
    out.put('}');
  }
  out.put('}');
}

void RenderFrameJson(const DisplayTree& tree, const FrameMeta& meta, OutBuffer& out) {
  PutKey(out, "{\"frame\": ");
  out.putUnsigned(meta.frame);
  PutKey(out, ", \"conn\": ");
  out.putUnsigned(meta.conn);
  PutKey(out, meta.clientToServer ? ", \"dir\": \"c2s\"" : ", \"dir\": \"s2c\"");
  PutKey(out, ", \"result\": ");
  out.putSigned(meta.result);
  PutKey(out, ", \"packets\": [");
  bool first = true;
  for (const PacketRecord& p : tree.packets()) {
    if (!first) out.put(", ", 2);
    first = false;
    RenderPacketJson(tree, p, out);
  }
  out.put("]}\n", 3);
}

void RenderRecordFieldsJson(const DisplayTree& tree, const PacketRecord& record, OutBuffer& out) {
  const FieldRecord* fields = tree.fields().data() + record.firstField;
  for (uint32_t i = 0; i < record.fieldCount; ++i) {
    const FieldRecord& f = fields[i];
    if (f.textBegin < 0) {
      PutField(f, i != 0, out);
      continue;
    }
    if (i != 0) out.put(", ", 2);
    g_textOverride = tree.texts().data() + f.textBegin;
    g_textOverrideSize = static_cast<size_t>(f.textSize);
    PutFieldScanned(f, out);
    g_textOverride = nullptr;
  }
}

namespace {

// Copies n bytes of the display tree's texts: up to its slack, one fixed-size move (no branch
// on the length, which varies from value to value); the destination has room for that much.
constexpr size_t kBlock = DisplayTree::kTextSlack;
inline char* CopyShort(char* to, const char* from, size_t n) {
  if (n <= kBlock)
    std::memcpy(to, from, kBlock);
  else
    std::memcpy(to, from, n);
  return to + n;
}

// A value that needs no escaping (anything but character data) after its "value" key, the
// output key and the closing brace; returns the end.
char* PutPlainValueTail(char* p, const char* texts, const ValueRecord& v, bool outputKey) {
  if (v.kind == VK_NULL) {
    p = PutLiteral(p, "null");
  } else {
    const bool quoted = v.kind == VK_TEXT || v.kind == VK_CHARS;
    if (quoted) *p++ = '"';
    p = CopyShort(p, texts + v.textBegin, v.textSize);
    if (quoted) *p++ = '"';
  }
  if (outputKey && (v.flags & VF_OUTPUT)) p = PutLiteral(p, ", \"output\": true");
  *p++ = '}';
  return p;
}

}  // namespace

void RenderValueJson(const DisplayTree& tree, const ValueRecord& v, bool outputKey,
                     OutBuffer& out) {
  const char* texts = tree.texts().data();
  // A column's start, kept once per message, then the value.
  if (v.column != ValueRecord::kNoColumn) {
    const ColumnRecord& c = tree.columns()[v.column];
    const bool escape = v.kind == VK_CHARS && !(v.flags & VF_PLAIN_VALUE);
    if (c.headSize && escape) {
      out.put(texts + c.headBegin, c.headSize);
      EscapeJson(out, texts + v.textBegin, v.textSize);
      if (outputKey && (v.flags & VF_OUTPUT)) out.put(", \"output\": true", 16);
      out.put('}');
      return;
    }
    if (c.headSize && out.ensure(c.headSize + v.textSize + 24 + 2 * kBlock)) {
      char* p = CopyShort(out.cursor(), texts + c.headBegin, c.headSize);
      out.commit(PutPlainValueTail(p, texts, v, outputKey));
      return;
    }
  }
  const size_t typeSize = std::strlen(v.type);
  // Plain names, the type and texts other than character data need no escaping: straight in.
  // 52 bytes of keys at most, and the value copied as a block
  const size_t room = 64 + kBlock + typeSize + v.nameSize + v.textSize;
  const bool plainName = (v.flags & VF_PLAIN_NAME) != 0;
  if (plainName && (v.kind != VK_CHARS || (v.flags & VF_PLAIN_VALUE)) && out.ensure(room)) {
    char* p = PutLiteral(out.cursor(), "{\"name\": \"");
    std::memcpy(p, texts + v.nameBegin, v.nameSize);
    p = PutLiteral(p + v.nameSize, "\", \"type\": \"");
    std::memcpy(p, v.type, typeSize);
    p = PutLiteral(p + typeSize, "\", \"value\": ");
    out.commit(PutPlainValueTail(p, texts, v, outputKey));
    return;
  }
  out.put("{\"name\": ", 9);
  EscapeJson(out, texts + v.nameBegin, v.nameSize);
  out.put(", \"type\": ", 10);
  JsonPutString(out, v.type);
  out.put(", \"value\": ", 11);
  switch (v.kind) {
    case VK_NULL:
      out.put("null", 4);
      break;
    case VK_NUMBER:
    case VK_BOOL:
      out.put(texts + v.textBegin, v.textSize);
      break;
    default:
      EscapeJson(out, texts + v.textBegin, v.textSize);
      break;
  }
  if (outputKey && (v.flags & VF_OUTPUT)) out.put(", \"output\": true", 16);
  out.put('}');
}

void RenderValuesJson(const DisplayTree& tree, const PacketRecord& record, OutBuffer& out) {
  const ValueRecord* values = tree.values().data() + record.firstValue;
  for (uint32_t i = 0; i < record.valueCount; ++i) {
    if (i) out.put(", ", 2);
    RenderValueJson(tree, values[i], false, out);
  }
}
