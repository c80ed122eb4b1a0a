// Parse context, summary line, field output, code-table lookup and value holders.
#include "tdsengine/engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "constant_ranges.h"
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
  const bool msbFirst = order == BO_MSB_FIRST || (order != BO_LSB_FIRST && parser.MsbFirst());
  dt.AddField(FieldRecord{label ? label : "", cursor, table, note,
                          static_cast<int32_t>(cursor - dt.tdsBegin()), size, format,
                          table ? rows : 0, mask, -1, 0, msbFirst});
  cursor += size;
  remaining -= size;
  return 1;
}

int32_t PIOutputColumn(CPDecode* tree, const char* name, int32_t nameSize, const char* type,
                       int32_t flags) {
  if (!tree || nameSize < 0) return -1;
  return static_cast<int32_t>(tree->m_tree->AddColumn(name, static_cast<size_t>(nameSize), type,
                                                      static_cast<uint8_t>(flags)));
}

void PIOutputValue(CPDecode* tree, int32_t column, int32_t kind, const char* text,
                   int32_t textSize) {
  if (!tree || column < 0 || textSize < 0) return;
  DisplayTree& dt = *tree->m_tree;
  if (static_cast<size_t>(column) >= dt.columns().size()) return;
  dt.AddColumnValue(static_cast<uint32_t>(column), static_cast<uint8_t>(kind), text,
                    static_cast<size_t>(textSize));
}

char* PIValueRoom(CPDecode* tree, int32_t room, int32_t* available) {
  if (!tree || room < 0 || !available) return nullptr;
  size_t all = 0;
  char* at = tree->m_tree->ValueRoom(static_cast<size_t>(room), &all);
  *available = static_cast<int32_t>(std::min<size_t>(all, INT32_MAX));
  return at;
}

void PICommitValues(CPDecode* tree, const TdsWrittenValue* values, int32_t count) {
  if (!tree || !values || count <= 0) return;
  tree->m_tree->AddWrittenValues(values, static_cast<size_t>(count));
}

void PIAttachFieldText(CPDecode* tree, const char* text, int32_t size) {
  if (!tree || size < 0) return;
  tree->m_tree->AttachText(text, static_cast<size_t>(size));
}

void PIReplaceFieldText(CPDecode* tree, const char* label, const char* text) {
  if (!tree || !label || !text) return;
  tree->m_tree->ReplaceText(label, text, std::strlen(text));
}

void PIShowOrderedFieldsRaw(CPDecode* tree) {
  if (!tree) return;
  tree->m_tree->ShowOrderedFieldsRaw();
}

namespace {

// Rows found in constant tables, by table, row count and value. A table inside a constant range
// cannot change, so the row once found stays right. Static storage only (zeroed slots are
// empty).
class RowCache {
 public:
  RowCache() {
    OnConstantRangesChange([](void* cache) { static_cast<RowCache*>(cache)->Clear(); }, this);
  }

  int Find(const CPICodeTable* table, int32_t rows, uint32_t value) {
    Slot& slot = m_slots[Index(table, value)];
    if (slot.table == table && slot.value == value && slot.rows == rows) return slot.row;
    const int row = Scan(table, rows, value);
    if (IsConstant(table, static_cast<size_t>(rows) * sizeof(CPICodeTable)))
      slot = Slot{table, rows, value, row};
    return row;
  }

  static int Scan(const CPICodeTable* table, int32_t rows, uint32_t value) {
    for (int32_t i = 0; i < rows; ++i) {
      if (table[i].low <= value && value <= table[i].high) return i;
    }
    return rows - 1;
  }

 private:
  struct Slot {
    const CPICodeTable* table;
    int32_t rows;
    uint32_t value;
    int32_t row;
  };
  static constexpr unsigned kSlotBits = 9;

  static size_t Index(const CPICodeTable* table, uint32_t value) {
    const uint64_t key = reinterpret_cast<uintptr_t>(table) ^ (uint64_t(value) << 32) ^ value;
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
  }

  void Clear() {
    for (Slot& slot : m_slots) slot = Slot{};
  }

  Slot m_slots[size_t(1) << kSlotBits];
};

RowCache g_rowCache;

}  // namespace

int FindTableRow(const CPICodeTable* table, int32_t rows, uint32_t value) {
  return g_rowCache.Find(table, rows, value);
}

int PIgetInterpretationString(int /*kind*/, int32_t value, int32_t rows,
                              const CPICodeTable* table) {
  if (!table || rows <= 0) return -1;
  return g_rowCache.Find(table, rows, static_cast<uint32_t>(value));
}

void CPIInteger::set(const uint8_t* bytes, int32_t size, int32_t order) {
  m_size = size;
  m_order = order;
  const int32_t n = size < 0 ? 0 : (size > 8 ? 8 : size);
  const uintptr_t at = reinterpret_cast<uintptr_t>(bytes);
  const uintptr_t begin = reinterpret_cast<uintptr_t>(g_frameBegin);
  const uintptr_t end = reinterpret_cast<uintptr_t>(g_frameEnd);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight bytes inside the frame: one load, the bytes past n cleared.
  static constexpr uint64_t kKeep[9] = {0,
                                        0xFF,
                                        0xFFFF,
                                        0xFFFFFF,
                                        0xFFFFFFFF,
                                        0xFFFFFFFFFF,
                                        0xFFFFFFFFFFFF,
                                        0xFFFFFFFFFFFFFF,
                                        0xFFFFFFFFFFFFFFFF};
  if (at - begin < end - begin && end - at >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
    word &= kKeep[n];
    std::memcpy(m_bytes, &word, sizeof(word));
    return;
  }
#endif
  for (int32_t i = 0; i < 8; ++i) m_bytes[i] = 0;
  for (int32_t i = 0; i < n; ++i) {
    const uintptr_t p = at + static_cast<uintptr_t>(i);
    if (p >= begin && p < end) m_bytes[i] = bytes[i];
  }
}

int32_t CPIInteger::get() const {
  if (m_size >= 5) return 0x7fffffff;
  if (m_size < 1) return 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // The bytes past m_size are zero (set() clears them).
  uint32_t word;
  std::memcpy(&word, m_bytes, sizeof(word));
  if (m_order == BO_LSB_FIRST) return static_cast<int32_t>(word);
  return static_cast<int32_t>(__builtin_bswap32(word) >> (32 - 8 * m_size));
#else
  uint32_t v = 0;
  if (m_order == BO_LSB_FIRST) {
    for (int32_t i = m_size - 1; i >= 0; --i) v = (v << 8) | m_bytes[i];
  } else {
    for (int32_t i = 0; i < m_size; ++i) v = (v << 8) | m_bytes[i];
  }
  return static_cast<int32_t>(v);
#endif
}

void PIMarkTokenSpan(CPDecode* tree, int32_t token, int32_t offset, int32_t size) {
  tree->m_tree->MarkSpan(token, offset, size);
}
