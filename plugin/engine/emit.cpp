#include "engine/emit.h"

namespace {

int32_t g_steeringOrder = 0;

bool Output(Out& out, const FieldDef& def, int32_t size) {
  return PIOutputToCPDecode(out.remaining, out.cursor, out.offset, out.tree, *out.parser, def.label,
                            def.format, size, def.table, def.rows, def.mask, def.note, nullptr,
                            def.order) != 0;
}

}  // namespace

bool Emit(Out& out, const FieldDef& def) {
  return Emit(out, def, def.size);
}

bool Emit(Out& out, const FieldDef& def, int32_t size) {
  if (!Output(out, def, size)) return false;
  ConsumePacket(size);
  return true;
}

bool EmitKeep(Out& out, const FieldDef& def) {
  return Output(out, def, def.size);
}

void SetSteeringByteOrder(int32_t order) {
  g_steeringOrder = order;
}

int32_t ReadValue(const uint8_t* at, int32_t size, int32_t order) {
  CPIInteger holder;
  holder.set(at, size, g_steeringOrder != 0 ? g_steeringOrder : order);
  const int32_t value = holder.get();
  holder.free();
  return value;
}
