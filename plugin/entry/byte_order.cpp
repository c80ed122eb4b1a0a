#include "entry/byte_order.h"

#include "entry/packet_state.h"

void StoreByteOrder(CPDecode* tree, int32_t code) {
  const uint32_t key = tree->ConnectionId;
  SimBlockTag scratch{};
  if (SimFindInfo(TdsInfoKind, key, &scratch, 0)) return;
  SimBlockTag block{};
  block.kind = TdsInfoKind;
  block.key = key;
  block.data = code;
  SimAddInfo(&block, nullptr);
}

void FetchByteOrder(CPDecode* tree) {
  SimBlockTag block{};
  if (SimFindInfo(TdsInfoKind, tree->ConnectionId, &block, 0)) ConnByteOrder = block.data;
}
