// CAPABILITY: the request and response capability masks of a login, shown bit by bit. CONTROL:
// user-defined format strings for the columns of a result.
#include "engine/emit.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kCapabilityType = Coded("Capability Type", 1, FF_DECIMAL, CapabilityTypeTable);
constexpr FieldDef kMaskLength = Plain("Length of Value Mask", 1, FF_DECIMAL, " byte(s)");

// A mask is shown as its first four bytes and then the rest under an empty label.
constexpr FieldDef kRequestMask = Coded("Value Mask", 4, FF_FLAGS, RequestCapBits);
constexpr FieldDef kRequestTail = Coded("", 3, FF_FLAGS, RequestCapTailBits, 0xFFFFFF00);
constexpr FieldDef kResponseMask = Coded("Value Mask", 4, FF_FLAGS, ResponseCapBits);
constexpr FieldDef kResponseTail = Coded("", 1, FF_FLAGS, ResponseCapTailBits, 0xFF000000);

constexpr FieldDef kFormatLength = Plain("Format Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kFormat = Plain("Format", 0, FF_HEX);

// The two mask shapes known: requests with 7 bytes, responses with 5.
struct MaskShape {
  int32_t type;
  int32_t length;
  const FieldDef& head;
  const FieldDef& tail;
};
constexpr MaskShape kShapes[] = {
    {1, 7, kRequestMask, kRequestTail},
    {2, 5, kResponseMask, kResponseTail},
};
static_assert(kRequestMask.size + kRequestTail.size == 7);
static_assert(kResponseMask.size + kResponseTail.size == 5);

const MaskShape* ShapeOf(int32_t type) {
  for (const MaskShape& shape : kShapes) {
    if (shape.type == type) return &shape;
  }
  return nullptr;
}

int16_t Less(int16_t left, int32_t used) {
  return static_cast<int16_t>(left - used);
}

}  // namespace

TDS_DECODER(DecodeCapability) {
  Out out{tree, cursor, remaining, offset, parser};
  int16_t left = ReadCount(cursor, 2);
  if (!Emit(out, kLength)) return -1;
  while (left > 0) {
    const int32_t type = ReadValue(cursor, 1);
    if (!Emit(out, kCapabilityType)) return -1;
    left = Less(left, kCapabilityType.size);
    const int32_t maskLength = ReadValue(cursor, 1);
    if (!Emit(out, kMaskLength)) return -1;
    left = Less(left, kMaskLength.size);
    if (maskLength <= 0) continue;
    // A mask of another type or length cannot be laid out, so the token ends here.
    const MaskShape* shape = ShapeOf(type);
    if (shape == nullptr || maskLength != shape->length) return -1;
    if (!Emit(out, shape->head)) return -1;
    left = Less(left, shape->head.size);
    if (!Emit(out, shape->tail)) return -1;
    left = Less(left, shape->tail.size);
  }
  return 0;
}

TDS_DECODER(DecodeControl) {
  Out out{tree, cursor, remaining, offset, parser};
  int16_t left = ReadCount(cursor, 2);
  if (!Emit(out, kLength)) return -1;
  while (left > 0) {
    const int32_t formatLength = ReadValue(cursor, 1);
    if (!Emit(out, kFormatLength)) return -1;
    left = Less(left, kFormatLength.size);
    if (formatLength > 0) {
      if (!Emit(out, kFormat, formatLength)) return -1;
      left = Less(left, formatLength);
    }
  }
  return 0;
}
