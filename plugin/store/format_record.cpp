#include "store/format_record.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "entry/packet_state.h"

// A block's text has room for 15 digits, too few for a 64-bit address, so a block carries the
// index of its record in this table instead, as decimal text. Freed slots are reused; the table
// holds at most as many slots as there are filed records.
namespace {

std::vector<FormatRecord*>& Slots() {
  static std::vector<FormatRecord*> slots;
  return slots;
}

std::vector<uint32_t>& FreeSlots() {
  static std::vector<uint32_t> free;
  return free;
}

bool TakeSlot(FormatRecord* record, uint32_t* index) {
  auto& slots = Slots();
  auto& free = FreeSlots();
  if (!free.empty()) {
    *index = free.back();
    free.pop_back();
    slots[*index] = record;
    return true;
  }
  if (slots.size() >= 0x7fffffffu) return false;
  slots.push_back(record);
  *index = static_cast<uint32_t>(slots.size() - 1);
  return true;
}

bool SlotOfText(const char* text, uint32_t* index) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0 || static_cast<size_t>(value) >= Slots().size()) return false;
  *index = static_cast<uint32_t>(value);
  return Slots()[*index] != nullptr;
}

SimBlockTag TerminatedCopy(SimBlockTag block) {
  block.text[sizeof(block.text) - 1] = '\0';
  return block;
}

}  // namespace

FormatRecord* NewFormatRecord(int32_t capacity) {
  if (capacity < 0) capacity = 0;
  auto* record = new (std::nothrow) FormatRecord{0, nullptr};
  if (!record) return nullptr;
  record->types = new (std::nothrow) uint8_t[static_cast<size_t>(capacity) + 1]();
  if (!record->types) {
    delete record;
    return nullptr;
  }
  return record;
}

void DiscardFormatRecord(FormatRecord* record) {
  if (!record) return;
  delete[] record->types;
  delete record;
}

void AppendFormatType(FormatRecord* record, uint8_t code) {
  record->types[record->count] = code;
  record->count = static_cast<int16_t>(record->count + 1);
  record->types[record->count] = 0;
}

void DeleteFormatRecord(uint32_t key) {
  SimDeleteInfo(TdsInfoKind, key, 0);
}

void FileFormatRecord(uint32_t key, FormatRecord* record) {
  if (!record) return;
  uint32_t index = 0;
  if (!TakeSlot(record, &index)) {
    DiscardFormatRecord(record);
    return;
  }
  SimBlockTag block{};
  block.kind = TdsInfoKind;
  block.key = key;
  std::snprintf(block.text, sizeof(block.text), "%ld", static_cast<long>(index));
  // The store calls the release callback itself when it cannot keep the block.
  SimAddInfo(&block, ReleaseFormatRecord);
}

const FormatRecord* FindFormatRecord(uint32_t key) {
  SimBlockTag block{};
  if (!SimFindInfo(TdsInfoKind, key, &block, 1)) return nullptr;
  uint32_t index = 0;
  if (!SlotOfText(TerminatedCopy(block).text, &index)) return nullptr;
  return Slots()[index];
}

int ReleaseFormatRecord(SimBlockTag block) {
  uint32_t index = 0;
  if (!SlotOfText(TerminatedCopy(block).text, &index)) return 1;
  FormatRecord* record = Slots()[index];
  Slots()[index] = nullptr;
  FreeSlots().push_back(index);
  record->count = 0;
  DiscardFormatRecord(record);
  return 1;
}
