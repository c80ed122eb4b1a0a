#include "views/message_render.h"

#include <algorithm>
#include <cstring>

#include "tdsengine/digits.h"
#include "tdsengine/render.h"
#include "views/protocol_names.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";
// Longest address text shown: "[" 45 characters of IPv6 "]:" 5 digits of port, and some.
constexpr size_t kMaxEndpoint = 64;

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

// The bytes the walk did not reach, as one dump field: at most kRestDumpBytes of them.
constexpr int32_t kRestDumpBytes = 4096;

FieldRecord RestDump(const DisplayTree& tree, const MessageMeta& meta) {
  const int32_t size = std::min(meta.walk.restSize, kRestDumpBytes);
  const char* label =
      size < meta.walk.restSize ? "Rest of message (first 4096 bytes)" : "Rest of message";
  return FieldRecord{label,
                     tree.tdsBegin() + meta.walk.restOffset,
                     nullptr,
                     nullptr,
                     meta.walk.restOffset,
                     size,
                     FF_DUMP,
                     0,
                     0,
                     -1,
                     0,
                     true};
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

char* PutIsoTimeUtc(char* p, int64_t us) {
  int64_t seconds = us / 1000000;
  int64_t micros = us % 1000000;
  if (micros < 0) {
    micros += 1000000;
    --seconds;
  }
  int64_t days = seconds / 86400;
  int64_t second = seconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  // The civil date of a day count from 1970-01-01, in 400-year eras from 0000-03-01.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const uint32_t dayOfEra = static_cast<uint32_t>(days - era * 146097);
  const uint32_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const uint32_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const uint32_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const uint32_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  if (year >= 0 && year <= 9999) {
    p = digits::PutPair(p, static_cast<uint32_t>(year / 100));
    p = digits::PutPair(p, static_cast<uint32_t>(year % 100));
  } else {
    p = digits::PutSignedDecimal(p, year);
  }
  *p++ = '-';
  p = digits::PutPair(p, month);
  *p++ = '-';
  p = digits::PutPair(p, day);
  *p++ = 'T';
  const uint32_t s = static_cast<uint32_t>(second);
  p = digits::PutPair(p, s / 3600);
  *p++ = ':';
  p = digits::PutPair(p, s / 60 % 60);
  *p++ = ':';
  p = digits::PutPair(p, s % 60);
  *p++ = '.';
  const uint32_t u = static_cast<uint32_t>(micros);
  p = digits::PutPair(p, u / 10000);
  p = digits::PutPair(p, u / 100 % 100);
  p = digits::PutPair(p, u % 100);
  *p++ = 'Z';
  return p;
}

const char* ByteOrderName(int32_t order) {
  switch (order) {
    case kWalkOrderBig:
      return "big";
    case kWalkOrderLittle:
      return "little";
    default:
      return "undecided";
  }
}

const char* ByteOrderSourceName(int32_t source) {
  switch (source) {
    case kOrderFromLogin:
      return "login";
    case kOrderFromOption:
      return "option";
    case kOrderFromInferred:
      return "inferred";
    default:
      return "undecided";
  }
}

void PutMessageNumber(uint64_t number, bool json, OutBuffer& out) {
  if (json)
    out.put("{\"message\": ");
  else
    out.put("Message ");
  out.putUnsigned(number);
}

void RenderMessageJson(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out) {
  if (!meta.numberLater) PutMessageNumber(meta.message, true, out);
  if (meta.file) {
    out.put(", \"file\": ");
    JsonPutString(out, meta.file);
  }
  // The numbers, times and addresses written in one piece: at most 640 bytes.
  const size_t clientSize = std::min<size_t>(std::strlen(meta.client), kMaxEndpoint);
  const size_t serverSize = std::min<size_t>(std::strlen(meta.server), kMaxEndpoint);
  char line[768];
  char* at = line;
  at = PutLiteral(at, ", \"frame\": ");
  at = digits::PutDecimal(at, meta.lastFrame);
  at = PutLiteral(at, ", \"first_frame\": ");
  at = digits::PutDecimal(at, meta.firstFrame);
  at = PutLiteral(at, ", \"first_time\": \"");
  at = PutIsoTimeUtc(at, meta.firstUs);
  at = PutLiteral(at, "\", \"last_time\": \"");
  at = PutIsoTimeUtc(at, meta.lastUs);
  at = PutLiteral(at, "\", \"conn\": ");
  at = digits::PutDecimal(at, meta.conn);
  at = PutLiteral(at, ", \"client\": \"");
  std::memcpy(at, meta.client, clientSize);
  at = PutLiteral(at + clientSize, "\", \"server\": \"");
  std::memcpy(at, meta.server, serverSize);
  at = PutLiteral(at + serverSize, "\", \"dir\": ");
  at = meta.clientToServer ? PutLiteral(at, "\"c2s\"") : PutLiteral(at, "\"s2c\"");
  at = PutLiteral(at, ", \"type\": ");
  at = digits::PutDecimal(at, meta.type);
  if (const char* name = MessageTypeName(meta.type); *name) {
    out.put(line, static_cast<size_t>(at - line));
    out.put(", \"type_text\": ");
    JsonPutString(out, name);
    at = line;
  }
  at = PutLiteral(at, ", \"packets\": ");
  at = digits::PutDecimal(at, meta.packets);
  at = PutLiteral(at, ", \"bytes\": ");
  at = digits::PutDecimal(at, meta.bytes);
  if (meta.part > 0) {
    at = PutLiteral(at, ", \"part\": {\"number\": ");
    at = digits::PutDecimal(at, meta.part);
    at = PutLiteral(at, ", \"offset\": ");
    at = digits::PutDecimal(at, meta.partOffset);
    at = meta.lastPart ? PutLiteral(at, ", \"last\": true}") : PutLiteral(at, ", \"last\": false}");
  }
  if (meta.showOrder) {
    // An undecided order is no order: null, and "undecided" as its source.
    at = meta.walk.order == kWalkOrderBig      ? PutLiteral(at, ", \"byte_order\": \"big\"")
         : meta.walk.order == kWalkOrderLittle ? PutLiteral(at, ", \"byte_order\": \"little\"")
                                               : PutLiteral(at, ", \"byte_order\": null");
    at = PutLiteral(at, ", \"byte_order_from\": \"");
    const char* source = ByteOrderSourceName(meta.walk.orderSource);
    const size_t sourceSize = std::strlen(source);
    std::memcpy(at, source, sourceSize);
    at = PutLiteral(at + sourceSize, "\"");
  }
  at = PutLiteral(at, ", \"tokens\": [");
  out.put(line, static_cast<size_t>(at - line));
  const std::vector<PacketRecord>& records = tree.packets();
  const size_t shown = std::min(meta.records, records.size());
  for (size_t i = 0; i < shown; ++i) TokenJson(tree, records[i], i > 0, out);
  out.put(']');
  if (WalkEndedEarly(meta)) {
    out.put(", \"rest\": {\"offset\": ");
    out.putSigned(meta.walk.restOffset);
    out.put(", \"size\": ");
    out.putSigned(meta.walk.restSize);
    out.put(", \"reason\": ");
    JsonPutString(out, meta.walk.restReason ? meta.walk.restReason : "");
    if (tree.tdsBegin()) {
      out.put(", \"dump\": ");
      RenderFieldJson(RestDump(tree, meta), out);
    }
    out.put('}');
  }
  if (const char* cut = MessageCutText(meta.cut)) {
    out.put(", \"cut_short\": ");
    JsonPutString(out, cut);
  }
  out.put("}\n", 2);
}

void RenderMessageText(const DisplayTree& tree, const MessageMeta& meta, OutBuffer& out) {
  if (!meta.numberLater) PutMessageNumber(meta.message, false, out);
  out.put(": connection ");
  out.putUnsigned(meta.conn);
  if (*meta.client || *meta.server) {
    out.put(" (client ");
    out.put(meta.client);
    out.put(", server ");
    out.put(meta.server);
    out.put(')');
  }
  out.put(meta.clientToServer ? ", client to server" : ", server to client");
  out.put(", message type ");
  out.putUnsigned(meta.type);
  if (const char* name = MessageTypeName(meta.type); *name) {
    out.put(" (");
    out.put(name);
    out.put(')');
  }
  out.put(", ");
  out.putUnsigned(meta.packets);
  out.put(meta.packets == 1 ? " packet, " : " packets, ");
  out.putUnsigned(meta.bytes);
  out.put(" bytes");
  if (meta.part > 0) {
    out.put(", part ");
    out.putUnsigned(meta.part);
    out.put(meta.lastPart ? " (the last) from offset " : " from offset ");
    out.putUnsigned(meta.partOffset);
  }
  char times[2 * 40];
  char* end = times;
  if (meta.firstFrame == meta.lastFrame) {
    out.put(", frame ");
    out.putUnsigned(meta.lastFrame);
    end = PutIsoTimeUtc(PutLiteral(end, " at "), meta.lastUs);
  } else {
    out.put(", frames ");
    out.putUnsigned(meta.firstFrame);
    out.put(" to ");
    out.putUnsigned(meta.lastFrame);
    end = PutIsoTimeUtc(PutLiteral(end, ", "), meta.firstUs);
    end = PutIsoTimeUtc(PutLiteral(end, " to "), meta.lastUs);
  }
  out.put(times, static_cast<size_t>(end - times));
  if (meta.showOrder) {
    if (meta.walk.order == kWalkOrderNone) {
      out.put(", byte order undecided (values read in it shown raw)");
    } else {
      out.put(meta.walk.order == kWalkOrderBig ? ", byte order big-endian ("
                                               : ", byte order little-endian (");
      out.put(ByteOrderSourceName(meta.walk.orderSource));
      out.put(')');
    }
  }
  if (meta.file) {
    out.put(", file ");
    PutText(out, meta.file);
  }
  out.put('\n');
  const std::vector<PacketRecord>& records = tree.packets();
  const size_t shown = std::min(meta.records, records.size());
  for (size_t i = 0; i < shown; ++i) {
    const PacketRecord& p = records[i];
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
    if (tree.tdsBegin()) RenderFieldText(RestDump(tree, meta), 2, out);
  }
  if (const char* cut = MessageCutText(meta.cut)) {
    out.put("    [Cut short: ");
    out.put(cut);
    out.put("]\n");
  }
  out.put('\n');
}
