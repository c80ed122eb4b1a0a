#include "views/message_stats.h"

#include "tdsengine/render.h"
#include "views/protocol_names.h"

namespace {

const char* const kDirJson[2] = {"c2s", "s2c"};
const char* const kDirText[2] = {"client to server", "server to client"};

void TextCount(OutBuffer& out, const char* name, uint64_t value) {
  out.put("  ");
  out.put(name);
  out.put(": ");
  out.putUnsigned(value);
  out.put('\n');
}

void TextTypes(OutBuffer& out, const char* title, const uint64_t (&counts)[2][256]) {
  for (int dir = 0; dir < 2; ++dir) {
    out.put("  ");
    out.put(title);
    out.put(" (");
    out.put(kDirText[dir]);
    out.put("):\n");
    bool any = false;
    for (unsigned code = 0; code < 256; ++code) {
      if (!counts[dir][code]) continue;
      any = true;
      out.put("    ");
      out.putUnsigned(code);
      const char* name = MessageTypeName(static_cast<uint8_t>(code));
      if (*name) {
        out.put(' ');
        out.put(name);
      }
      out.put(": ");
      out.putUnsigned(counts[dir][code]);
      out.put('\n');
    }
    if (!any) out.put("    none\n");
  }
}

void JsonTypes(OutBuffer& out, const char* name, const uint64_t (&counts)[2][256]) {
  out.put(", \"");
  out.put(name);
  out.put("\": [");
  bool first = true;
  for (int dir = 0; dir < 2; ++dir) {
    for (unsigned code = 0; code < 256; ++code) {
      if (!counts[dir][code]) continue;
      if (!first) out.put(", ", 2);
      first = false;
      out.put("{\"dir\": \"");
      out.put(kDirJson[dir]);
      out.put("\", \"type\": ");
      out.putUnsigned(code);
      out.put(", \"text\": ");
      JsonPutString(out, MessageTypeName(static_cast<uint8_t>(code)));
      out.put(", \"count\": ");
      out.putUnsigned(counts[dir][code]);
      out.put('}');
    }
  }
  out.put(']');
}

void JsonCount(OutBuffer& out, const char* name, uint64_t value) {
  out.put(", \"");
  out.put(name);
  out.put("\": ");
  out.putUnsigned(value);
}

}  // namespace

void PrintMessageStatsText(const MessageStats& s, OutBuffer& out) {
  if (!s.used) return;
  TextTypes(out, "messages per message type", s.messages);
  TextTypes(out, "packets per message type", s.packets);
  for (int dir = 0; dir < 2; ++dir) {
    out.put("  tokens per token type (");
    out.put(kDirText[dir]);
    out.put("):\n");
    bool any = false;
    for (unsigned code = 0; code < 256; ++code) {
      if (!s.tokens[dir][code]) continue;
      any = true;
      out.put("    0x");
      out.putHexByte(static_cast<uint8_t>(code));
      if (s.tokenName[code]) {
        out.put(' ');
        out.put(s.tokenName[code]);
      }
      if (s.tokenText[code] && *s.tokenText[code]) {
        out.put(" (");
        out.put(s.tokenText[code]);
        out.put(')');
      }
      out.put(": ");
      out.putUnsigned(s.tokens[dir][code]);
      out.put('\n');
    }
    if (!any) out.put("    none\n");
  }
  TextCount(out, "records that are not tokens, client to server", s.records[0]);
  TextCount(out, "records that are not tokens, server to client", s.records[1]);
  TextCount(out, "messages cut short (lost bytes, stream end, ceiling)", s.messagesCutShort);
  TextCount(out, "messages shown in parts (longer than the window)", s.messagesInParts);
  TextCount(out, "messages whose walk ended early", s.messagesEndedEarly);
  TextCount(out, "tokens with a refused field", s.tokensRefused);
  TextCount(out, "bytes passed over (ceiling, outside packets)", s.bytesPassedOver);
}

void PrintMessageStatsJson(const MessageStats& s, OutBuffer& out) {
  if (!s.used) return;
  out.put(", \"message_view\": {\"records\": {\"c2s\": ");
  out.putUnsigned(s.records[0]);
  out.put(", \"s2c\": ");
  out.putUnsigned(s.records[1]);
  out.put('}');
  JsonTypes(out, "messages", s.messages);
  JsonTypes(out, "packets", s.packets);
  out.put(", \"tokens\": [");
  bool first = true;
  for (int dir = 0; dir < 2; ++dir) {
    for (unsigned code = 0; code < 256; ++code) {
      if (!s.tokens[dir][code]) continue;
      if (!first) out.put(", ", 2);
      first = false;
      out.put("{\"dir\": \"");
      out.put(kDirJson[dir]);
      out.put("\", \"code\": ");
      out.putUnsigned(code);
      out.put(", \"hex\": \"0x");
      out.putHexByte(static_cast<uint8_t>(code));
      out.put("\", \"name\": ");
      JsonPutString(out, s.tokenName[code] ? s.tokenName[code] : "");
      out.put(", \"text\": ");
      JsonPutString(out, s.tokenText[code] ? s.tokenText[code] : "");
      out.put(", \"count\": ");
      out.putUnsigned(s.tokens[dir][code]);
      out.put('}');
    }
  }
  out.put(']');
  JsonCount(out, "messages_cut_short", s.messagesCutShort);
  JsonCount(out, "messages_in_parts", s.messagesInParts);
  JsonCount(out, "messages_ended_early", s.messagesEndedEarly);
  JsonCount(out, "tokens_refused", s.tokensRefused);
  JsonCount(out, "bytes_passed_over", s.bytesPassedOver);
  out.put('}');
}
