// Texts and values of the message view: bytes in the connection's character set shown decoded.
#include "message/message_token.h"
#include "tdswire/values.h"

namespace {

// Bytes that read the same in every supported character set as in ISO-8859-1.
bool PlainAscii(const uint8_t* bytes, int32_t size) {
  for (int32_t i = 0; i < size; ++i)
    if (bytes[i] >= 0x80) return false;
  return true;
}

// Values rendered straight into the tree's text store, handed over in batches: one call for
// room and one to keep them per batch rather than per value.
struct ValueBatch {
  explicit ValueBatch(CPDecode* t) : tree(t) {}
  CPDecode* tree;
  char* room = nullptr;
  int32_t available = 0;  // bytes at room
  int32_t used = 0;       // by the values pending
  int32_t count = 0;
  TdsWrittenValue values[64];

  void Flush() {
    if (count) PICommitValues(tree, values, count);
    room += used;
    available -= used;
    used = count = 0;
  }
  // Where the next value's text goes, with room for `need` bytes; nullptr when refused.
  char* Next(size_t need) {
    if (need > static_cast<size_t>(available - used) || count == 64) {
      Flush();
      if (need > static_cast<size_t>(available)) {
        room = PIValueRoom(tree, static_cast<int32_t>(need), &available);
        if (!room) available = 0;
      }
    }
    return room ? room + used : nullptr;
  }
  void Add(int32_t column, const RenderedValue& r) {
    values[count++] = {column, static_cast<int32_t>(r.size), static_cast<uint8_t>(r.kind),
                       static_cast<uint8_t>(r.plain ? VF_PLAIN_VALUE : 0)};
    used += static_cast<int32_t>(r.size);
  }
};

}  // namespace

bool EmitText(MessageToken& t, Out& out, const FieldDef& def, int32_t size) {
  const uint8_t* bytes = out.cursor;
  if (!Emit(out, def, size)) return false;
  if (t.session.charset == Charset::kIso1 || PlainAscii(bytes, size)) return true;
  t.scratch.clear();
  AppendDecoded(t.session.charset, bytes, static_cast<size_t>(size), t.scratch);
  PIAttachFieldText(t.tree, t.scratch.data(), static_cast<int32_t>(t.scratch.size()));
  return true;
}

bool EmitName(MessageToken& t, Out& out, const FieldDef& length, const FieldDef& name) {
  const int32_t n = static_cast<int32_t>(Peek(t, out, 1));
  if (!Emit(out, length)) return false;
  return n == 0 || EmitText(t, out, name, n);
}

bool EmitValues(MessageToken& t, Out& out, const KeptFormat& kept, bool keysOnly, bool params) {
  const WireFormat& format = kept.format;
  // The columns are named in the tree once per message, their values after them.
  if (kept.walk != CurrentWalk()) {
    kept.walk = CurrentWalk();
    kept.firstColumn = -1;
    for (size_t i = 0; i < format.columns.size(); ++i) {
      const WireColumn& c = format.columns[i];
      const int32_t flags =
          kept.valueFlags[i] | (params && (c.status & kParamOutput) ? VF_OUTPUT : 0);
      const int32_t n = PIOutputColumn(t.tree, format.names.data() + c.nameBegin,
                                       static_cast<int32_t>(c.nameSize), kept.typeNames[i], flags);
      if (i == 0) kept.firstColumn = n;
    }
  }
  const size_t count = keysOnly ? format.keys.size() : format.columns.size();
  const uint8_t reading = t.reading();
  ValueBatch batch(t.tree);
  for (size_t i = 0; i < count; ++i) {
    const size_t column = keysOnly ? format.keys[i] : i;
    const WireColumn& c = format.columns[column];
    ValueSpan span;
    const int32_t fixed = kept.fixedSizes[column];
    if (fixed) {
      // A fixed-size value: no framing to read.
      if (fixed > out.remaining) break;
      span.size = span.dataSize = fixed;
    } else if (!FrameValue(c, params, c.statusByte && !keysOnly, out.cursor, out.remaining,
                           t.msbFirst, span)) {
      break;
    }
    char* text = batch.Next(RenderedValueRoom(span.dataSize));
    if (!text) break;
    const RenderedValue r = RenderValueTo(c, out.cursor + span.dataOffset, span.dataSize, span.null,
                                          t.msbFirst, t.session.charset, text, reading);
    batch.Add(kept.firstColumn + static_cast<int32_t>(column), r);
    out.cursor += span.size;
    out.remaining -= span.size;
    if (i + 1 == count) {
      batch.Flush();
      return true;
    }
  }
  batch.Flush();  // the values before the one that did not fit are kept
  return count == 0;
}
