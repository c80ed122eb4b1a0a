#include "message_render.h"

#include <cstring>

#include "tdsengine/digits.h"
#include "tdsengine/render.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The plug-in's names and reasons are constants; control characters are escaped all the same
// so that one record stays on one line.
void PutText(OutBuffer& out, const char* s) {
  if (!s) return;
  for (; *s; ++s) {
    const uint8_t c = static_cast<uint8_t>(*s);
    if (c < 0x20 || c == 0x7F) {
      const char x[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 15]};
      out.put(x, 4);
    } else {
      out.put(static_cast<char>(c));
    }
  }
}

bool WalkEndedEarly(const MessageMeta& meta) {
  return meta.walk.restSize > 0;
}

template <size_t N>
char* PutLiteral(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
}

void TokenJson(const DisplayTree& tree, const PacketRecord& p, bool separate, OutBuffer& out) {
  // The numbers straight into the buffer: keys and digits come to 80 bytes at most.
  if (out.ensure(96)) {
    char* at = out.cursor();
    if (separate) at = PutLiteral(at, ", ");
    at = PutLiteral(at, "{\"offset\": ");
    at = digits::PutSignedDecimal(at, p.spanOffset);
    at = PutLiteral(at, ", \"size\": ");
    at = digits::PutSignedDecimal(at, p.spanSize);
    at = PutLiteral(at, ", \"token\": ");
    at = p.token >= 0 ? digits::PutSignedDecimal(at, p.token) : PutLiteral(at, "null");
    out.commit(PutLiteral(at, ", \"name\": "));
  } else {
    if (separate) out.put(", ", 2);
    out.put("{\"offset\": ");
    out.putSigned(p.spanOffset);
    out.put(", \"size\": ");
    out.putSigned(p.spanSize);
    out.put(", \"token\": ");
    if (p.token >= 0)
      out.putSigned(p.token);
    else
      out.put("null");
    out.put(", \"name\": ");
  }
  JsonPutString(out, p.shortName);
  out.put(", \"text\": ", 10);
  JsonPutString(out, p.longName);
  out.put(", \"fields\": [", 13);
  RenderRecordFieldsJson(tree, p, out);
  out.put(']');
  if (p.valueCount) {
    out.put(", \"values\": [", 13);
    RenderValuesJson(tree, p, out);
    out.put(']');
  }
  if (p.refused) {
    out.put(", \"refused\": {\"label\": ");
    JsonPutString(out, p.refusal.label);
    out.put(", \"size\": ");
    out.putSigned(p.refusal.size);
    out.put(", \"left\": ");
    out.putSigned(p.refusal.left);
    out.put('}');
  }
  out.put('}');
}

}  // namespace

void RenderMessageJson(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out) {
  out.put("{\"message\": ");
  out.putUnsigned(meta.message);
  out.put(", \"frame\": ");
  out.putUnsigned(meta.lastFrame);
  out.put(", \"conn\": ");
  out.putUnsigned(meta.conn);
  out.put(meta.clientToServer ? ", \"dir\": \"c2s\"" : ", \"dir\": \"s2c\"");
  out.put(", \"type\": ");
  out.putUnsigned(meta.type);
  out.put(", \"packets\": ");
  out.putUnsigned(meta.packets);
  out.put(", \"bytes\": ");
  out.putUnsigned(meta.bytes);
  out.put(", \"tokens\": [");
  bool first = true;
  for (const PacketRecord& p : tree.packets()) {
    TokenJson(tree, p, !first, out);
    first = false;
  }
  out.put(']');
  if (WalkEndedEarly(meta)) {
    out.put(", \"rest\": {\"offset\": ");
    out.putSigned(meta.walk.restOffset);
    out.put(", \"size\": ");
    out.putSigned(meta.walk.restSize);
    out.put(", \"reason\": ");
    JsonPutString(out, meta.walk.restReason ? meta.walk.restReason : "");
    out.put('}');
  }
  if (const char* cut = MessageCutText(meta.cut)) {
    out.put(", \"cut_short\": ");
    JsonPutString(out, cut);
  }
  out.put("}\n", 2);
}

void RenderMessageText(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out) {
  out.put("Message ");
  out.putUnsigned(meta.message);
  out.put(": connection ");
  out.putUnsigned(meta.conn);
  out.put(meta.clientToServer ? ", client to server" : ", server to client");
  out.put(", message type ");
  out.putUnsigned(meta.type);
  out.put(", ");
  out.putUnsigned(meta.packets);
  out.put(meta.packets == 1 ? " packet, " : " packets, ");
  out.putUnsigned(meta.bytes);
  out.put(" bytes, last frame ");
  out.putUnsigned(meta.lastFrame);
  out.put('\n');
  for (const PacketRecord& p : tree.packets()) {
    out.put("    ");
    PutText(out, *p.shortName ? p.shortName : "(untitled)");
    if (*p.longName) {
      out.put(" (", 2);
      PutText(out, p.longName);
      out.put(')');
    }
    out.put(": offset ");
    out.putSigned(p.spanOffset);
    out.put(", ");
    out.putSigned(p.spanSize);
    out.put(p.spanSize == 1 ? " byte\n" : " bytes\n");
    RenderRecordFieldsText(tree, p, 2, out);
    RenderValuesText(tree, p, 2, out);
    if (p.refused) {
      out.put("        [Refused: ");
      PutText(out, p.refusal.label);
      out.put(" needs ");
      out.putSigned(p.refusal.size);
      out.put(" bytes, ");
      out.putSigned(p.refusal.left);
      out.put(" left in the token]\n");
    }
  }
  if (WalkEndedEarly(meta)) {
    out.put("    [Not walked: ");
    out.putSigned(meta.walk.restSize);
    out.put(" bytes from offset ");
    out.putSigned(meta.walk.restOffset);
    out.put(": ");
    PutText(out, meta.walk.restReason);
    out.put("]\n");
  }
  if (const char* cut = MessageCutText(meta.cut)) {
    out.put("    [Cut short: ");
    out.put(cut);
    out.put("]\n");
  }
  out.put('\n');
}
