// Text rendering of a frame: a frame line, a line per packet, fields indented beneath.
#include <cstring>

#include "tdsengine/field_value.h"
#include "tdsengine/render.h"

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
    if (c == '"' || c == '\\') {
      out.put('\\');
      out.put(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.put(static_cast<char>(c));
    } else if (c >= 0xA0) {
      out.put(static_cast<char>(0xC0 | (c >> 6)));
      out.put(static_cast<char>(0x80 | (c & 0x3F)));
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

void PutDumpLines(OutBuffer& out, const uint8_t* data, int32_t size, int indent) {
  // Each line is put together here and goes out in one piece: indent, offset, hex bytes,
  // characters.
  char text[4 * kMaxDumpIndent + 4 + 2 + 3 * kDumpLineBytes + 1 + kDumpLineBytes + 1];
  const int blanks = indent < kMaxDumpIndent ? indent : kMaxDumpIndent;
  for (int32_t line = 0; line < size; line += kDumpLineBytes) {
    PutIndent(out, indent - blanks);
    char* p = text;
    for (int i = 0; i < blanks; ++i, p += 4) std::memcpy(p, "    ", 4);
    const uint32_t at = static_cast<uint32_t>(line);
    for (int shift = 12; shift >= 0; shift -= 4) *p++ = kHexDigits[(at >> shift) & 15];
    *p++ = ' ';
    *p++ = ' ';
    const int32_t n = size - line < kDumpLineBytes ? size - line : kDumpLineBytes;
    for (int32_t i = 0; i < kDumpLineBytes; ++i) {
      if (i < n) {
        const uint8_t b = data[line + i];
        *p++ = kHexDigits[b >> 4];
        *p++ = kHexDigits[b & 15];
        *p++ = ' ';
      } else {
        std::memcpy(p, "   ", 3);
        p += 3;
      }
    }
    *p++ = ' ';
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t c = data[line + i];
      *p++ = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    *p++ = '\n';
    out.put(text, static_cast<size_t>(p - text));
  }
}

}  // namespace

void RenderFieldText(const FieldRecord& f, int indent, OutBuffer& out) {
  PutIndent(out, indent);
  PutText(out, f.label);
  bool longDump = false;
  if (f.format == FF_NONE) {
    out.put(" [", 2);
    out.putSigned(f.size);
    out.put(f.size == 1 ? " byte]" : " bytes]");
  } else {
    out.put(": ", 2);
    if (FieldIsInteger(f)) {
      if (f.format == FF_DECIMAL)
        out.putUnsigned(FieldUnsigned(f));
      else if (f.format == FF_SIGNED)
        out.putSigned(FieldSigned(f));
      else
        PutHexNumber(out, FieldUnsigned(f), f.size);
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
    const int row = FieldTableRow(f);
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
    for (uint32_t i = 0; i < p.fieldCount; ++i) RenderFieldText(fields[p.firstField + i], 2, out);
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
