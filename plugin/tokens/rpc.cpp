// RPC: the procedure name, the options and the parameters inline, each with its name, status,
// datatype description and value, until the token's stated length is used up.
#include "engine/emit.h"
#include "tables/requests.h"
#include "tokens/datatypes.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kNameLength = Plain("RPC Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kName = Plain("RPC Name", 0, FF_STRING);
constexpr FieldDef kOptionsNone = Plain("Options", 2, FF_HEX, "Options argument is not used");
constexpr FieldDef kOptions = Coded("Options", 2, FF_FLAGS, RpcOptionBits, 0xFFFF0000);

constexpr FieldDef kParamNameLength = Plain("Param Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kParamName = Plain("Param Name", 0, FF_STRING);
constexpr FieldDef kStatusNone = Plain("Status", 1, FF_HEX, "Not used");
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, RpcParamStatusBits, 0xFF000000);
constexpr FieldDef kDataType = Plain("Data Type", 1, FF_HEX);
constexpr FieldDef kMaxLength = Plain("Length of data type", 0, FF_DECIMAL);
constexpr FieldDef kPrecision = Plain("Precision", 1, FF_DECIMAL);
constexpr FieldDef kScale = Plain("Scale", 1, FF_DECIMAL);
// The data count is shown under the name length's label.
constexpr FieldDef kDataLength = Plain("Param Name Length", 0, FF_DECIMAL, " byte(s)");
constexpr FieldDef kData = Plain("Param Data", 0, FF_STRING);

// The stated length still to be used up, in the wire's 16-bit arithmetic.
struct Budget {
  uint16_t left;
  void Use(int32_t n) { left = static_cast<uint16_t>(left - static_cast<uint16_t>(n)); }
  bool More() const { return static_cast<int16_t>(left) > 0; }
};

bool EmitCounted(Out& out, Budget& budget, const FieldDef& def, int32_t size) {
  if (!Emit(out, def, size)) return false;
  budget.Use(size);
  return true;
}

bool EmitCounted(Out& out, Budget& budget, const FieldDef& def) {
  return EmitCounted(out, budget, def, def.size);
}

int32_t DecodeParameter(Out& out, Budget& budget) {
  const int32_t nameLength = ReadValue(out.cursor, 1);
  if (!EmitCounted(out, budget, kParamNameLength)) return -1;
  if (nameLength > 0 && !EmitCounted(out, budget, kParamName, nameLength)) return -1;
  if (out.remaining < 1) return -1;
  const int32_t status = ReadValue(out.cursor, 1);
  if (!EmitCounted(out, budget, status == 0 ? kStatusNone : kStatus)) return -1;

  const int32_t type = ReadValue(out.cursor, 1);
  if (!EmitKeep(out, kDataType)) return -1;
  const int16_t width = LengthPrefixWidth(type);
  if (width == -1) return -1;
  ConsumePacket(1);
  budget.Use(1);

  if (width != 0 && !EmitCounted(out, budget, kMaxLength, width)) return -1;
  if (IsDecimalType(type) &&
      (!EmitCounted(out, budget, kPrecision) || !EmitCounted(out, budget, kScale))) {
    return -1;
  }
  const int16_t dataLength = ReadCount(out.cursor, width);
  if (!EmitCounted(out, budget, kDataLength, width)) return -1;
  // A fixed-size value travels without a count: it is shown over its type's size rather than
  // being left to be misread as the next parameter.
  const int32_t dataSize = width == 0 ? FixedDataSize(type) : dataLength;
  if (dataSize > 0 && !EmitCounted(out, budget, kData, dataSize)) return -1;
  return 0;
}

}  // namespace

TDS_DECODER(DecodeRpc) {
  Out out{tree, cursor, remaining, offset, parser};
  Budget budget{static_cast<uint16_t>(ReadValue(cursor, 2))};
  if (!Emit(out, kLength)) return -1;
  const int32_t nameLength = ReadValue(cursor, 1);
  if (!EmitCounted(out, budget, kNameLength)) return -1;
  if (nameLength != 0 && !EmitCounted(out, budget, kName, nameLength)) return -1;
  if (remaining < 2) return -1;
  const int32_t options = ReadValue(cursor, 2);
  if (!EmitCounted(out, budget, options == 0 ? kOptionsNone : kOptions)) return -1;

  while (budget.More()) {
    if (DecodeParameter(out, budget) == -1) return -1;
  }
  return 0;
}
