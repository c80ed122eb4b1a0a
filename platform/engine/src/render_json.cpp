// JSON Lines rendering of a frame's packets and fields.
#include <cstring>

#include "tdsengine/field_value.h"
#include "tdsengine/render.h"

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

// Escapes one ASCII byte into out; returns false when the byte needs no escape.
inline bool PutEscape(OutBuffer& out, uint8_t c) {
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
inline void PutLatin1High(OutBuffer& out, uint8_t c) {
  out.put(static_cast<char>(0xC0 | (c >> 6)));
  out.put(static_cast<char>(0x80 | (c & 0x3F)));
}

// Length of the valid UTF-8 sequence starting at s (at most n bytes), 0 when it is not one.
size_t Utf8SequenceLength(const uint8_t* s, size_t n) {
  const uint8_t c = s[0];
  size_t len;
  uint32_t min;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    min = 0x80;
    cp = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    min = 0x800;
    cp = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    min = 0x10000;
    cp = c & 0x07u;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
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

void PutValue(OutBuffer& out, const FieldRecord& f) {
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

}  // namespace

void JsonPutString(OutBuffer& out, const char* text, size_t length) {
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
    } else {
      PutLatin1High(out, c);  // not UTF-8: the byte is taken as its ISO-8859-1 character
      ++i;
    }
  }
  out.put('"');
}

void JsonPutString(OutBuffer& out, const char* text) {
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
  JsonPutString(out, text, run + std::strlen(text + run));
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
  PutKey(out, "{\"label\": ");
  JsonPutString(out, f.label);
  PutKey(out, ", \"offset\": ");
  out.putSigned(f.offset);
  PutKey(out, ", \"size\": ");
  out.putSigned(f.size);
  const Literal format = FormatMember(f.format);
  out.put(format.text, format.size);
  if (f.format != FF_NONE) {
    PutKey(out, ", \"value\": ");
    PutValue(out, f);
  }
  const bool hasTable = f.table && f.rows > 0;
  if (hasTable && f.format != FF_FLAGS) {
    const int row = FieldTableRow(f);
    PutKey(out, ", \"text\": ");
    JsonPutString(out, row >= 0 ? f.table[row].text : "");
  }
  if (hasTable && f.format == FF_FLAGS) {
    PutKey(out, ", \"bits\": [");
    bool first = true;
    ForEachBitText(f, [&](const char* text) {
      if (!first) out.put(", ", 2);
      first = false;
      JsonPutString(out, text);
    });
    out.put(']');
  }
  if (f.note) {
    PutKey(out, ", \"note\": ");
    JsonPutString(out, f.note);
  }
  out.put('}');
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
  const std::vector<FieldRecord>& fields = tree.fields();
  for (uint32_t i = 0; i < p.fieldCount; ++i) {
    if (i) out.put(", ", 2);
    RenderFieldJson(fields[p.firstField + i], out);
  }
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
