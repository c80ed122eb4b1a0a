// The engine's record of one frame's decode: packets (titles), their summaries and fields.
// Storage is reused from frame to frame, so recording a field allocates nothing once the
// vectors have grown to the largest frame seen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tdsengine/engine.h"

// Ordered for size (64 bytes): a message of many small tokens makes one per field.
struct FieldRecord {
  const char* label;    // the plug-in's constant text
  const uint8_t* data;  // the field's bytes inside the frame
  const CPICodeTable* table;
  const char* note;
  int32_t offset;  // from the first TDS byte of the frame
  int32_t size;
  FIELD_FORMAT format;
  int32_t rows;
  uint32_t mask;
  // Message view: the field's value as text the plug-in decoded (a statement in the
  // connection's character set, a masked password), UTF-8 in DisplayTree::texts(); -1 when the
  // value is the field's bytes.
  int32_t textBegin = -1;
  int32_t textSize = 0;
  bool msbFirst;  // resolved byte order
};

// Message view: one value of a data token (a column of a row, a parameter) as people read it.
// Name and text are UTF-8 in DisplayTree::texts(); type is the plug-in's constant SQL type name.
struct ValueRecord {
  uint32_t nameBegin;
  uint32_t nameSize;
  const char* type;
  uint32_t textBegin;
  uint32_t textSize;
  uint8_t kind;                 // TdsValueKind
  uint8_t flags;                // TdsValueFlags
  uint32_t column = kNoColumn;  // its column in DisplayTree::columns()

  static constexpr uint32_t kNoColumn = 0xFFFFFFFFu;
};

// Message view: a column or parameter of a format, named once per message for all the values
// under it. head is its JSON start, `{"name": "...", "type": "...", "value": `, in texts()
// (size 0 when the name needs escaping).
struct ColumnRecord {
  uint32_t nameBegin;
  uint32_t nameSize;
  const char* type;
  uint8_t flags;
  uint32_t headBegin;
  uint32_t headSize;
};

struct RefusalRecord {
  const char* label;
  int32_t size;
  int32_t left;
};

struct PacketRecord {
  const char* shortName;
  const char* longName;
  RefusalRecord refusal{};
  uint32_t summaryBegin = 0;  // range in DisplayTree::summaries()
  uint32_t summaryEnd = 0;
  uint32_t firstField = 0;
  uint32_t fieldCount = 0;
  uint32_t firstValue = 0;
  uint32_t valueCount = 0;
  // Message view: the token this record shows, its first byte and extent in the message data.
  int32_t token = -1;
  int32_t spanOffset = -1;
  int32_t spanSize = 0;
  bool refused = false;
};

class TDSENGINE_API DisplayTree {
 public:
  // Starts a frame: the frame block [frame, frame + length), whose TDS bytes begin at tds.
  void BeginFrame(const uint8_t* frame, size_t length, const uint8_t* tds);

  const uint8_t* frameBegin() const { return m_frame; }
  const uint8_t* frameEnd() const { return m_frameEnd; }
  const uint8_t* tdsBegin() const { return m_tds; }

  void AddPacket(const char* shortName, const char* longName);
  void AppendSummary(const char* text);
  void AddField(const FieldRecord& field) {
    ++current().fieldCount;
    m_fields.push_back(field);
  }
  void Refuse(const char* label, int32_t size, int32_t left);
  // Message view: a value of the current record, and decoded text for its latest field.
  void AddValue(const char* name, size_t nameSize, const char* type, uint8_t kind, uint8_t flags,
                const char* text, size_t textSize);
  uint32_t AddColumn(const char* name, size_t nameSize, const char* type, uint8_t flags);
  void AddColumnValue(uint32_t column, uint8_t kind, const char* text, size_t textSize);
  // Room for value texts written in place: at least `room` bytes, *available in all (valid
  // until the next change of the tree); AddWrittenValues keeps the values written there.
  char* ValueRoom(size_t room, size_t* available);
  void AddWrittenValues(const TdsWrittenValue* values, size_t count);
  void AttachText(const char* text, size_t size);
  void ReplaceText(const char* label, const char* text, size_t size);
  // Fields of more than one byte read least significant byte first as numbers, flags or hex
  // become dumps, without table or note.
  void ShowOrderedFieldsRaw();
  void MarkSpan(int32_t token, int32_t offset, int32_t size);

  const std::vector<PacketRecord>& packets() const { return m_packets; }
  const std::vector<FieldRecord>& fields() const { return m_fields; }
  const std::string& summaries() const { return m_summaries; }
  const std::vector<ValueRecord>& values() const { return m_values; }
  const std::vector<ColumnRecord>& columns() const { return m_columns; }
  const std::string& texts() const { return m_texts; }
  static constexpr size_t kTextSlack = 64;
  bool anyRefused() const;

 private:
  PacketRecord& current() {
    // Fields recorded before any title land in an untitled packet.
    if (m_packets.empty()) AddPacket("", "");
    return m_packets.back();
  }

  const uint8_t* m_frame = nullptr;
  const uint8_t* m_frameEnd = nullptr;
  const uint8_t* m_tds = nullptr;
  std::vector<PacketRecord> m_packets;
  std::vector<FieldRecord> m_fields;
  std::string m_summaries;
  std::vector<ValueRecord> m_values;
  std::vector<ColumnRecord> m_columns;
  // Names and value texts of m_values and attached field texts: the first m_textsUsed bytes
  // (the string is kept at its grown size, so storing a text costs no call into the library).
  // At least kTextSlack bytes follow the last text, so that renderers may read a short text
  // as one fixed-size block.
  std::string m_texts;
  size_t m_textsUsed = 0;
  uint32_t StoreText(const char* text, size_t size);
};
