// Recording of one frame's packets, summaries and fields.
#include "tdsengine/display_tree.h"

#include "tdsengine/store.h"

void DisplayTree::BeginFrame(const uint8_t* frame, size_t length, const uint8_t* tds) {
  m_frame = frame;
  m_frameEnd = frame + length;
  m_tds = tds;
  m_packets.clear();
  m_fields.clear();
  m_summaries.clear();
  SetCurrentFrame(frame, m_frameEnd);
}

void DisplayTree::AddPacket(const char* shortName, const char* longName) {
  PacketRecord p;
  p.shortName = shortName ? shortName : "";
  p.longName = longName ? longName : "";
  p.summaryBegin = p.summaryEnd = static_cast<uint32_t>(m_summaries.size());
  p.firstField = static_cast<uint32_t>(m_fields.size());
  m_packets.push_back(p);
}

void DisplayTree::AppendSummary(const char* text) {
  PacketRecord& p = current();
  m_summaries.append(text);
  p.summaryEnd = static_cast<uint32_t>(m_summaries.size());
}

void DisplayTree::Refuse(const char* label, int32_t size, int32_t left) {
  PacketRecord& p = current();
  if (p.refused) return;  // the first refusal stops the packet; keep that one
  p.refused = true;
  p.refusal = RefusalRecord{label ? label : "", size, left};
}

bool DisplayTree::anyRefused() const {
  for (const PacketRecord& p : m_packets)
    if (p.refused) return true;
  return false;
}

void DisplayTree::MarkSpan(int32_t token, int32_t offset, int32_t size) {
  PacketRecord& p = current();
  p.token = token;
  p.spanOffset = offset;
  p.spanSize = size;
}
