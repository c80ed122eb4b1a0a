// CAPABILITY: request and response masks of any length, every bit named by its number.
#include "message/message_token.h"
#include "tables/capability_bits.h"
#include "tables/token_core.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kType = Coded("Capability Type", 1, FF_DECIMAL, CapabilityTypeTable);
constexpr FieldDef kMaskLength = Plain("Length of Value Mask", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kRawMask = Plain("Value Mask", 0, FF_HEX);

// An older client's 9-byte masks give no plausible set of bits under the numbering: they are
// shown as bytes. Masks of every other length are numbered from their last byte.
constexpr uint32_t kOlderClientMask = 9;

bool EmitMask(Out& out, uint32_t type, uint32_t size) {
  if ((type != 1 && type != 2) || size == kOlderClientMask ||
      size > static_cast<uint32_t>(kCapabilityNamedBytes))
    return Emit(out, kRawMask, static_cast<int32_t>(size));
  const CPICodeTable* const* tables = type == 1 ? RequestCapabilityBytes : ResponseCapabilityBytes;
  for (uint32_t i = 0; i < size; ++i) {
    // Bits are numbered from the last byte of the mask.
    const uint32_t fromEnd = size - 1 - i;
    const FieldDef byte{CapabilityByteLabels[fromEnd],
                        1,
                        FF_FLAGS,
                        tables[fromEnd],
                        kCapabilityBitRows,
                        0xFF000000,
                        nullptr,
                        BO_PARSER};
    if (!Emit(out, byte)) return false;
  }
  return true;
}

}  // namespace

int32_t DecodeCapabilityReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength)) return -1;
  while (out.remaining >= 2) {
    const uint32_t type = Peek(t, out, 1);
    if (!Emit(out, kType)) return -1;
    const uint32_t size = Peek(t, out, 1);
    if (!Emit(out, kMaskLength) || !EmitMask(out, type, size)) return -1;
  }
  return static_cast<int32_t>(out.cursor - start);
}
