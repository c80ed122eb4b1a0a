// Recording of one frame's packets, summaries and fields.
#include "tdsengine/display_tree.h"

#include <algorithm>
#include <cstring>

#include "tdsengine/store.h"

void DisplayTree::BeginFrame(const uint8_t* frame, size_t length, const uint8_t* tds) {
  m_frame = frame;
  m_frameEnd = frame + length;
  m_tds = tds;
  m_packets.clear();
  m_fields.clear();
  m_summaries.clear();
  m_values.clear();
  m_columns.clear();
  m_textsUsed = 0;
  // A token takes at least one byte and most fields do: room for one of each per byte is set
  // aside at once, so that a block of many small tokens does not copy its records as they grow
  // (a copy holds the old and the new array at once). Room never written costs no memory.
  const size_t bytes = frame && tds && tds <= m_frameEnd ? size_t(m_frameEnd - tds) : 0;
  if (m_fields.capacity() < bytes + 16) m_fields.reserve(bytes + 16);
  if (m_packets.capacity() < bytes + 16) m_packets.reserve(bytes + 16);
  SetCurrentFrame(frame, m_frameEnd);
}

void DisplayTree::AddPacket(const char* shortName, const char* longName) {
  PacketRecord p;
  p.shortName = shortName ? shortName : "";
  p.longName = longName ? longName : "";
  p.summaryBegin = p.summaryEnd = static_cast<uint32_t>(m_summaries.size());
  p.firstField = static_cast<uint32_t>(m_fields.size());
  p.firstValue = static_cast<uint32_t>(m_values.size());
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

void DisplayTree::AddValue(const char* name, size_t nameSize, const char* type, uint8_t kind,
                           uint8_t flags, const char* text, size_t textSize) {
  PacketRecord& p = current();
  ValueRecord v;
  v.nameBegin = StoreText(name, nameSize);
  v.nameSize = static_cast<uint32_t>(nameSize);
  v.textBegin = StoreText(text, textSize);
  v.textSize = static_cast<uint32_t>(textSize);
  v.type = type ? type : "";
  v.kind = kind;
  v.flags = flags;
  ++p.valueCount;
  m_values.push_back(v);
}

uint32_t DisplayTree::AddColumn(const char* name, size_t nameSize, const char* type,
                                uint8_t flags) {
  ColumnRecord c;
  c.nameBegin = StoreText(name, nameSize);
  c.nameSize = static_cast<uint32_t>(nameSize);
  c.type = type ? type : "";
  c.flags = flags;
  c.headBegin = static_cast<uint32_t>(m_textsUsed);
  c.headSize = 0;
  if (flags & VF_PLAIN_NAME) {
    // Type names are plain constants; a plain name goes in as it is.
    static const char kName[] = "{\"name\": \"";
    static const char kType[] = "\", \"type\": \"";
    static const char kValue[] = "\", \"value\": ";
    StoreText(kName, sizeof(kName) - 1);
    StoreText(name, nameSize);
    StoreText(kType, sizeof(kType) - 1);
    StoreText(c.type, std::strlen(c.type));
    StoreText(kValue, sizeof(kValue) - 1);
    c.headSize = static_cast<uint32_t>(m_textsUsed - c.headBegin);
  }
  m_columns.push_back(c);
  return static_cast<uint32_t>(m_columns.size() - 1);
}

void DisplayTree::AddColumnValue(uint32_t column, uint8_t kind, const char* text, size_t textSize) {
  PacketRecord& p = current();
  const ColumnRecord& c = m_columns[column];
  ValueRecord v;
  v.nameBegin = c.nameBegin;
  v.nameSize = c.nameSize;
  v.type = c.type;
  v.textBegin = StoreText(text, textSize);
  v.textSize = static_cast<uint32_t>(textSize);
  v.kind = kind;
  v.flags = c.flags;
  v.column = column;
  ++p.valueCount;
  m_values.push_back(v);
}

char* DisplayTree::ValueRoom(size_t room, size_t* available) {
  const size_t at = m_textsUsed;
  if (at + room + kTextSlack > m_texts.size())
    m_texts.resize(std::max(2 * m_texts.size(), at + room + kTextSlack + 256));
  *available = m_texts.size() - kTextSlack - at;
  return &m_texts[at];
}

void DisplayTree::AddWrittenValues(const TdsWrittenValue* values, size_t count) {
  PacketRecord& p = current();
  const size_t limit = m_texts.size() - kTextSlack;  // the end of the room ValueRoom gave
  size_t at = m_textsUsed;
  for (size_t i = 0; i < count; ++i) {
    const TdsWrittenValue& w = values[i];
    const size_t size = static_cast<size_t>(w.size);
    if (w.column < 0 || static_cast<size_t>(w.column) >= m_columns.size() || w.size < 0 ||
        size > limit - at)
      break;  // not what ValueRoom gave: the rest is not kept
    const ColumnRecord& c = m_columns[static_cast<size_t>(w.column)];
    ValueRecord v;
    v.nameBegin = c.nameBegin;
    v.nameSize = c.nameSize;
    v.type = c.type;
    v.textBegin = static_cast<uint32_t>(at);
    v.textSize = static_cast<uint32_t>(size);
    v.kind = w.kind;
    v.flags = static_cast<uint8_t>(c.flags | (w.flags & VF_PLAIN_VALUE));
    v.column = static_cast<uint32_t>(w.column);
    m_values.push_back(v);
    ++p.valueCount;
    at += size;
  }
  m_textsUsed = at;
}

void DisplayTree::AttachText(const char* text, size_t size) {
  if (m_fields.empty()) return;
  FieldRecord& f = m_fields.back();
  f.textBegin = static_cast<int32_t>(StoreText(text, size));
  f.textSize = static_cast<int32_t>(size);
}

void DisplayTree::ReplaceText(const char* label, const char* text, size_t size) {
  if (m_packets.empty()) return;
  const PacketRecord& p = m_packets.back();
  for (uint32_t i = p.firstField; i < p.firstField + p.fieldCount; ++i) {
    FieldRecord& f = m_fields[i];
    if (std::strcmp(f.label, label) != 0) continue;
    f.textBegin = static_cast<int32_t>(StoreText(text, size));
    f.textSize = static_cast<int32_t>(size);
  }
}

void DisplayTree::ShowOrderedFieldsRaw() {
  for (FieldRecord& f : m_fields) {
    if (f.msbFirst || f.size < 2 || f.textBegin >= 0) continue;
    if (f.format != FF_DECIMAL && f.format != FF_SIGNED && f.format != FF_HEX &&
        f.format != FF_FLAGS)
      continue;
    f.format = FF_DUMP;
    f.table = nullptr;
    f.rows = 0;
    f.note = nullptr;
  }
}

uint32_t DisplayTree::StoreText(const char* text, size_t size) {
  const size_t at = m_textsUsed;
  if (at + size + kTextSlack > m_texts.size())
    m_texts.resize(std::max(2 * m_texts.size(), at + size + kTextSlack + 256));
  if (size) std::memcpy(&m_texts[at], text, size);
  m_textsUsed = at + size;
  return static_cast<uint32_t>(at);
}
