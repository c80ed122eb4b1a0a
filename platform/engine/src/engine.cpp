// Parse context, summary line, field output, code-table lookup and value holders.
#include "tdsengine/engine.h"

#include "tdsengine/display_tree.h"
#include "tdsengine/store.h"

namespace {
const uint8_t* g_frameBegin = nullptr;
const uint8_t* g_frameEnd = nullptr;
}  // namespace

void SetCurrentFrame(const uint8_t* begin, const uint8_t* end) {
  g_frameBegin = begin;
  g_frameEnd = end;
}

CParser::CParser(const uint8_t* frameStart, const uint8_t* position, const char* name,
                 int32_t protocol, uint16_t endianess)
    : ParseResult(0),
      m_startOffset(static_cast<int32_t>(position - frameStart)),
      m_protocol(protocol),
      m_frameLength(
          g_frameEnd && position <= g_frameEnd ? static_cast<int32_t>(g_frameEnd - position) : 0),
      m_endianess(endianess),
      m_frameStart(frameStart),
      m_name(name) {}

void CPDecode::addTitle(int mode, const char* text) {
  if (mode == SummaryMode() && text) m_tree->AppendSummary(text);
}

void CPDecode::addDecode(int mode, const char* text) {
  if (mode == SummaryMode() && text) m_tree->AppendSummary(text);
}

int CPDecode::addResultNew(int /*mode*/, int32_t, int32_t, int32_t, int32_t) {
  return 1;
}

void PIOutputTitleToCPDecode(const char* shortName, const char* longName, CPDecode* tree,
                             CParser /*parser*/) {
  tree->m_tree->AddPacket(shortName, longName);
}

int PIOutputToCPDecode(int32_t& remaining, const uint8_t*& cursor, int32_t /*offset*/,
                       CPDecode* tree, CParser& parser, const char* label, FIELD_FORMAT format,
                       int32_t size, const CPICodeTable* table, int32_t rows, uint32_t mask,
                       const char* note, const char* /*note2*/, ENDIANNESS order) {
  DisplayTree& dt = *tree->m_tree;
  // The remaining count is the caller's word; the frame's real end is the engine's own, and a
  // field must fit both.
  const bool inFrame =
      cursor >= dt.frameBegin() && cursor <= dt.frameEnd() && size <= dt.frameEnd() - cursor;
  if (size < 0 || size > remaining || !inFrame) {
    dt.Refuse(label, size, remaining);
    return 0;
  }
  FieldRecord field;
  field.label = label ? label : "";
  field.data = cursor;
  field.offset = static_cast<int32_t>(cursor - dt.tdsBegin());
  field.size = size;
  field.format = format;
  field.table = table;
  field.rows = table ? rows : 0;
  field.mask = mask;
  field.note = note;
  field.msbFirst = order == BO_MSB_FIRST || (order != BO_LSB_FIRST && parser.MsbFirst());
  dt.AddField(field);
  cursor += size;
  remaining -= size;
  return 1;
}

int PIgetInterpretationString(int /*kind*/, int32_t value, int32_t rows,
                              const CPICodeTable* table) {
  if (!table || rows <= 0) return -1;
  const uint32_t v = static_cast<uint32_t>(value);
  for (int32_t i = 0; i < rows; ++i) {
    if (table[i].low <= v && v <= table[i].high) return i;
  }
  return rows - 1;
}

void CPIInteger::set(const uint8_t* bytes, int32_t size, int32_t order) {
  m_size = size;
  m_order = order;
  const int32_t n = size < 0 ? 0 : (size > 8 ? 8 : size);
  for (int32_t i = 0; i < 8; ++i) m_bytes[i] = 0;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t* p = bytes + i;
    if (p >= g_frameBegin && p < g_frameEnd) m_bytes[i] = *p;
  }
}

int32_t CPIInteger::get() const {
  if (m_size >= 5) return 0x7fffffff;
  if (m_size < 1) return 0;
  uint32_t v = 0;
  if (m_order == BO_LSB_FIRST) {
    for (int32_t i = m_size - 1; i >= 0; --i) v = (v << 8) | m_bytes[i];
  } else {
    for (int32_t i = 0; i < m_size; ++i) v = (v << 8) | m_bytes[i];
  }
  return static_cast<int32_t>(v);
}

void PIMarkTokenSpan(CPDecode* tree, int32_t token, int32_t offset, int32_t size) {
  tree->m_tree->MarkSpan(token, offset, size);
}
