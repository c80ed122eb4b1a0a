// Field emission: each field a decoder shows is one row of constants (label, size, format,
// table, mask, note, byte order) and one call of Emit. Emit lowers the packet's undecoded byte
// count by the field's size when the engine accepts the field, and returns false when it is
// refused, which the decoder answers by returning -1.
#pragma once
#include <cstdint>
#include <iterator>

#include "entry/packet_state.h"
#include "tdsengine/engine.h"

// Mask values for whole-value fields: -1 without a note, 0 with one.
constexpr uint32_t kWholeValue = 0xFFFFFFFFu;
constexpr uint32_t kNoteMask = 0;

struct FieldDef {
  const char* label;
  int32_t size;
  FIELD_FORMAT format;
  const CPICodeTable* table;
  int32_t rows;
  uint32_t mask;
  const char* note;
  ENDIANNESS order;
};

// Rows of a constant code table, its final "Unknown" row included.
template <size_t N>
constexpr int32_t Rows(const CPICodeTable (&)[N]) {
  return static_cast<int32_t>(N);
}

// A field without a code table.
constexpr FieldDef Plain(const char* label, int32_t size, FIELD_FORMAT format,
                         const char* note = nullptr, ENDIANNESS order = BO_PARSER) {
  return FieldDef{label, size, format, nullptr, 0, note ? kNoteMask : kWholeValue, note, order};
}

// A field interpreted by a code table under the given mask.
template <size_t N>
constexpr FieldDef Coded(const char* label, int32_t size, FIELD_FORMAT format,
                         const CPICodeTable (&table)[N], uint32_t mask = kWholeValue,
                         const char* note = nullptr) {
  return FieldDef{label, size, format, table, Rows(table), mask, note, BO_PARSER};
}

// The arguments every field emission of a token shares.
struct Out {
  CPDecode* tree;
  const uint8_t*& cursor;
  int32_t& remaining;
  int32_t offset;
  CParser* parser;
};

// Emits the field with its own size; lowers PacketLeft on success.
bool Emit(Out& out, const FieldDef& def);
// Emits the field with a size read from the wire.
bool Emit(Out& out, const FieldDef& def, int32_t size);
// Emits without touching PacketLeft (the packet header, whose length is set afterwards).
bool EmitKeep(Out& out, const FieldDef& def);

// The value of `size` bytes at `at`, read through a value holder (most significant byte first
// unless told otherwise): 0x7fffffff for sizes of 5 or more, 0 below 1.
int32_t ReadValue(const uint8_t* at, int32_t size, int32_t order = BO_MSB_FIRST);

// The packet view reads every length, count and status most significant byte first, whatever
// the connection announced. The message view has to find real token boundaries, so it reads
// them in the connection's order instead: a nonzero code here overrides the order that
// ReadValue is asked for. 0 (the packet view) leaves every read as asked.
void SetSteeringByteOrder(int32_t order);

// A count or length as the wire's signed 16-bit number.
inline int16_t ReadCount(const uint8_t* at, int32_t size) {
  return static_cast<int16_t>(ReadValue(at, size));
}

// Lowers PacketLeft in 16-bit arithmetic.
inline void ConsumePacket(int32_t n) {
  PacketLeft = static_cast<uint16_t>(PacketLeft - static_cast<uint16_t>(n));
}

// The smaller of PacketLeft and the frame's remaining count, as a 16-bit count.
inline int32_t PacketBytesInFrame(int32_t remaining) {
  const int32_t left = PacketLeft;
  return static_cast<uint16_t>(left < remaining ? left : remaining);
}
