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

// The lines of the statistics, in order: the text's name and the JSON key of each count.
enum class Row : uint8_t { kCount, kStream, kPackets, kTypes, kFirstTokens };
struct StatRow {
  Row row;
  const char* text;
  const char* json;
  uint64_t HostStats::*count;
  uint64_t StreamCounters::*stream;
};
constexpr StatRow kStatRows[] = {
    {Row::kCount, "frames read", "frames_read", &HostStats::framesRead, nullptr},
    {Row::kCount, "TCP segments with payload", "tcp_payload_segments",
     &HostStats::tcpPayloadSegments, nullptr},
    {Row::kCount, "frames decoded", "frames_decoded", &HostStats::framesDecoded, nullptr},
    {Row::kPackets, "TDS packets decoded", "packets", nullptr, nullptr},
    {Row::kTypes, "packets per message type", "message_types", nullptr, nullptr},
    {Row::kFirstTokens, "first tokens per token type", "first_tokens", nullptr, nullptr},
    {Row::kCount, "TCP connections", "tcp_connections", &HostStats::tcpConnections, nullptr},
    {Row::kCount, "TDS connections", "connections", &HostStats::tdsConnections, nullptr},
    {Row::kCount, "frames cut short (a field refused)", "frames_cut_short",
     &HostStats::framesCutShort, nullptr},
    {Row::kCount, "bytes held at the end of a stream", "held_bytes_at_end",
     &HostStats::heldBytesAtEnd, nullptr},
    {Row::kCount, "bytes held before lost bytes", "held_bytes_at_gaps", &HostStats::heldBytesAtGaps,
     nullptr},
    {Row::kStream, "retransmitted bytes passed over", "retransmitted_bytes", nullptr,
     &StreamCounters::retransmittedBytes},
    {Row::kStream, "segments out of order", "out_of_order_segments", nullptr,
     &StreamCounters::outOfOrderSegments},
    {Row::kStream, "gaps given up", "gaps", nullptr, &StreamCounters::gaps},
    {Row::kCount, "bytes before a packet start (joined midway)", "bytes_skipped",
     &HostStats::bytesSkipped, nullptr},
    {Row::kCount, "segments cut by the capture length", "segments_cut_by_capture",
     &HostStats::segmentsCutByCapture, nullptr},
    {Row::kCount, "frames shorter than their headers", "frames_too_short",
     &HostStats::framesTooShort, nullptr},
    {Row::kCount, "connections evicted", "connections_evicted", &HostStats::connectionsEvicted,
     nullptr},
    {Row::kCount, "connections cut short (memory ceiling)", "connections_cut",
     &HostStats::connectionsCut, nullptr},
    {Row::kCount, "bytes let go with them", "bytes_cut", &HostStats::bytesCut, nullptr},
    {Row::kCount, "format records refused (connection store full)", "format_records_refused",
     &HostStats::formatRecordsRefused, nullptr},
};

uint64_t CountOf(const StatRow& r, const HostStats& s, const PacketCounts& p) {
  if (r.row == Row::kStream) return s.stream.*r.stream;
  if (r.row == Row::kPackets) return p.packets;
  return s.*r.count;
}

}  // namespace

void PrintStatsText(const HostStats& s, OutBuffer& out) {
  uint64_t types[256];
  Names names;
  const PacketCounts p = PacketsOf(s, types, names);
  out.put("Statistics:\n");
  for (const StatRow& r : kStatRows) {
    if (r.row == Row::kTypes)
      TextCodes(out, r.text, p.types, p.typeTexts, false);
    else if (r.row == Row::kFirstTokens)
      TextCodes(out, r.text, p.firstTokens, p.tokenTexts, true);
    else
      TextLine(out, r.text, CountOf(r, s, p));
  }
  PrintMessageStatsText(s.messageView, out);
}

void PrintStatsJson(const HostStats& s, OutBuffer& out) {
  uint64_t types[256];
  Names names;
  const PacketCounts p = PacketsOf(s, types, names);
  out.put("{\"stats\": {");
  bool first = true;
  for (const StatRow& r : kStatRows) {
    if (r.row == Row::kTypes)
      JsonCodes(out, r.json, p.types, p.typeTexts, false);
    else if (r.row == Row::kFirstTokens)
      JsonCodes(out, r.json, p.firstTokens, p.tokenTexts, true);
    else
      JsonCount(out, r.json, CountOf(r, s, p), first);
    first = false;
  }
  PrintMessageStatsJson(s.messageView, out);
  out.put("}}\n");
}
