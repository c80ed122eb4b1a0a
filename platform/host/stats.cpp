#include "stats.h"

#include "tdsengine/render.h"
#include "views/protocol_names.h"

namespace {

void PutHexCode(OutBuffer& out, unsigned code) {
  out.put("0x", 2);
  out.putHexByte(static_cast<uint8_t>(code));
}

void TextLine(OutBuffer& out, const char* name, uint64_t value) {
  out.put("  ");
  out.put(name);
  out.put(": ");
  out.putUnsigned(value);
  out.put('\n');
}

void JsonCount(OutBuffer& out, const char* name, uint64_t value, bool first = false) {
  if (!first) out.put(", ", 2);
  out.put('"');
  out.put(name);
  out.put("\": ");
  out.putUnsigned(value);
}

// Entries of a per-code table: "text": number code, text and count.
void JsonCodes(OutBuffer& out, const char* name, const uint64_t* counts, const char* const* texts,
               bool hex) {
  out.put(", \"");
  out.put(name);
  out.put("\": [");
  bool first = true;
  for (unsigned code = 0; code < 256; ++code) {
    if (!counts[code]) continue;
    if (!first) out.put(", ", 2);
    first = false;
    out.put("{\"code\": ");
    out.putUnsigned(code);
    if (hex) {
      out.put(", \"hex\": \"");
      PutHexCode(out, code);
      out.put('"');
    }
    out.put(", \"text\": ");
    JsonPutString(out, texts[code] ? texts[code] : "");
    out.put(", \"count\": ");
    out.putUnsigned(counts[code]);
    out.put('}');
  }
  out.put(']');
}

void TextCodes(OutBuffer& out, const char* title, const uint64_t* counts, const char* const* texts,
               bool hex) {
  out.put("  ");
  out.put(title);
  out.put(":\n");
  bool any = false;
  for (unsigned code = 0; code < 256; ++code) {
    if (!counts[code]) continue;
    any = true;
    out.put("    ");
    if (hex)
      PutHexCode(out, code);
    else
      out.putUnsigned(code);
    if (texts[code]) {
      out.put(' ');
      out.put(texts[code]);
    }
    out.put(": ");
    out.putUnsigned(counts[code]);
    out.put('\n');
  }
  if (!any) out.put("    none\n");
}

// The packets of the message view, where the packet view did not run: its packets per message
// type, and the first token of each message in place of each packet's.
struct PacketCounts {
  uint64_t packets;
  const uint64_t* types;
  const char* const* typeTexts;
  const uint64_t* firstTokens;
  const char* const* tokenTexts;
};

// A text as a view saw it, else the plug-in's name for the code (null when neither is known).
const char* Named(const char* seen, const char* name) {
  return seen ? seen : *name ? name : nullptr;
}

// The counts and texts printed: the packet view's, else the message view's or the request
// log's; a type or token counted without being decoded (the rows the request log passes over)
// gets its name from the plug-in.
struct Names {
  const char* types[256];
  const char* tokens[256];
};
PacketCounts PacketsOf(const HostStats& s, uint64_t (&types)[256], Names& names) {
  const MessageStats& m = s.messageView;
  const bool packetView = s.tdsPackets || !m.used;
  const char* const* tokenTexts = packetView ? s.tokenText : m.tokenText;
  for (unsigned t = 0; t < 256; ++t) {
    names.types[t] = Named(s.messageTypeText[t], MessageTypeName(static_cast<uint8_t>(t)));
    names.tokens[t] = Named(tokenTexts[t], TokenText(static_cast<uint8_t>(t)));
  }
  if (packetView) return {s.tdsPackets, s.messageTypes, names.types, s.firstTokens, names.tokens};
  uint64_t packets = 0;
  for (unsigned t = 0; t < 256; ++t) {
    types[t] = m.packets[0][t] + m.packets[1][t];
    packets += types[t];
  }
  return {packets, types, names.types, m.firstTokens, names.tokens};
}

}  // namespace

void PrintStatsText(const HostStats& s, OutBuffer& out) {
  uint64_t types[256];
  Names names;
  const PacketCounts p = PacketsOf(s, types, names);
  out.put("Statistics:\n");
  TextLine(out, "frames read", s.framesRead);
  TextLine(out, "TCP segments with payload", s.tcpPayloadSegments);
  TextLine(out, "frames decoded", s.framesDecoded);
  TextLine(out, "TDS packets decoded", p.packets);
  TextCodes(out, "packets per message type", p.types, p.typeTexts, false);
  TextCodes(out, "first tokens per token type", p.firstTokens, p.tokenTexts, true);
  TextLine(out, "TCP connections", s.tcpConnections);
  TextLine(out, "TDS connections", s.tdsConnections);
  TextLine(out, "frames cut short (a field refused)", s.framesCutShort);
  TextLine(out, "bytes held at the end of a stream", s.heldBytesAtEnd);
  TextLine(out, "bytes held before lost bytes", s.heldBytesAtGaps);
  TextLine(out, "retransmitted bytes passed over", s.stream.retransmittedBytes);
  TextLine(out, "segments out of order", s.stream.outOfOrderSegments);
  TextLine(out, "gaps given up", s.stream.gaps);
  TextLine(out, "bytes before a packet start (joined midway)", s.bytesSkipped);
  TextLine(out, "segments cut by the capture length", s.segmentsCutByCapture);
  TextLine(out, "frames shorter than their headers", s.framesTooShort);
  TextLine(out, "connections evicted", s.connectionsEvicted);
  TextLine(out, "connections cut short (memory ceiling)", s.connectionsCut);
  TextLine(out, "bytes let go with them", s.bytesCut);
  TextLine(out, "format records refused (connection store full)", s.formatRecordsRefused);
  PrintMessageStatsText(s.messageView, out);
}

void PrintStatsJson(const HostStats& s, OutBuffer& out) {
  uint64_t types[256];
  Names names;
  const PacketCounts p = PacketsOf(s, types, names);
  out.put("{\"stats\": {");
  JsonCount(out, "frames_read", s.framesRead, true);
  JsonCount(out, "tcp_payload_segments", s.tcpPayloadSegments);
  JsonCount(out, "frames_decoded", s.framesDecoded);
  JsonCount(out, "packets", p.packets);
  JsonCodes(out, "message_types", p.types, p.typeTexts, false);
  JsonCodes(out, "first_tokens", p.firstTokens, p.tokenTexts, true);
  JsonCount(out, "tcp_connections", s.tcpConnections);
  JsonCount(out, "connections", s.tdsConnections);
  JsonCount(out, "frames_cut_short", s.framesCutShort);
  JsonCount(out, "held_bytes_at_end", s.heldBytesAtEnd);
  JsonCount(out, "held_bytes_at_gaps", s.heldBytesAtGaps);
  JsonCount(out, "retransmitted_bytes", s.stream.retransmittedBytes);
  JsonCount(out, "out_of_order_segments", s.stream.outOfOrderSegments);
  JsonCount(out, "gaps", s.stream.gaps);
  JsonCount(out, "bytes_skipped", s.bytesSkipped);
  JsonCount(out, "segments_cut_by_capture", s.segmentsCutByCapture);
  JsonCount(out, "frames_too_short", s.framesTooShort);
  JsonCount(out, "connections_evicted", s.connectionsEvicted);
  JsonCount(out, "connections_cut", s.connectionsCut);
  JsonCount(out, "bytes_cut", s.bytesCut);
  JsonCount(out, "format_records_refused", s.formatRecordsRefused);
  PrintMessageStatsJson(s.messageView, out);
  out.put("}}\n");
}
