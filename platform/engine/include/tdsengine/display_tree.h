// The engine's record of one frame's decode: packets (titles), their summaries and fields.
// Storage is reused from frame to frame, so recording a field allocates nothing once the
// vectors have grown to the largest frame seen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tdsengine/engine.h"

struct FieldRecord {
  const char* label;    // the plug-in's constant text
  const uint8_t* data;  // the field's bytes inside the frame
  int32_t offset;       // from the first TDS byte of the frame
  int32_t size;
  FIELD_FORMAT format;
  const CPICodeTable* table;
  int32_t rows;
  uint32_t mask;
  const char* note;
  bool msbFirst;  // resolved byte order
};

struct RefusalRecord {
  const char* label;
  int32_t size;
  int32_t left;
};

struct PacketRecord {
  const char* shortName;
  const char* longName;
  uint32_t summaryBegin = 0;  // range in DisplayTree::summaries()
  uint32_t summaryEnd = 0;
  uint32_t firstField = 0;
  uint32_t fieldCount = 0;
  bool refused = false;
  RefusalRecord refusal{};
  // Message view: the token this record shows, its first byte and extent in the message data.
  int32_t token = -1;
  int32_t spanOffset = -1;
  int32_t spanSize = 0;
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
  void MarkSpan(int32_t token, int32_t offset, int32_t size);

  const std::vector<PacketRecord>& packets() const { return m_packets; }
  const std::vector<FieldRecord>& fields() const { return m_fields; }
  const std::string& summaries() const { return m_summaries; }
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
};
