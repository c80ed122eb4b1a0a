#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tdsengine/render.h"
#include "tdsengine/store.h"

void FuzzFail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

OutBuffer& DiscardOut() {
  static FILE* sink = std::fopen("/dev/null", "w");
  static OutBuffer out(sink, 1 << 16);
  return out;
}

namespace {

struct HeldBlock {
  SimBlockTag block;
  SimReleaseFn release;
};

std::vector<HeldBlock>& Held() {
  static std::vector<HeldBlock> held;
  return held;
}
uint64_t g_handed = 0;

bool Same(const HeldBlock& h, const SimBlockTag& b, SimReleaseFn release) {
  return h.release == release && h.block.kind == b.kind && h.block.key == b.key &&
         h.block.data == b.data && std::memcmp(h.block.text, b.text, sizeof(b.text)) == 0;
}

void OnHanded(const SimBlockTag& block, SimReleaseFn release) {
  ++g_handed;
  Held().push_back(HeldBlock{block, release});
}

void OnReleased(const SimBlockTag& block, SimReleaseFn release) {
  std::vector<HeldBlock>& held = Held();
  for (size_t i = held.size(); i-- > 0;) {
    if (!Same(held[i], block, release)) continue;
    held[i] = held.back();
    held.pop_back();
    return;
  }
  FuzzFail("a store block was released that is not held (released twice?)");
}

const StoreWatch kWatch{OnHanded, OnReleased};

}  // namespace

ReleaseLedger::ReleaseLedger() {
  Held().clear();
  g_handed = 0;
  SetStoreWatch(&kWatch);
}

ReleaseLedger::~ReleaseLedger() {
  SetStoreWatch(nullptr);
}

size_t ReleaseLedger::live() const {
  return Held().size();
}

uint64_t ReleaseLedger::handed() const {
  return g_handed;
}

void ReleaseLedger::ExpectAllReleased() const {
  if (!Held().empty()) FuzzFail("a store block was never released");
}

void CheckTree(const DisplayTree& tree) {
  for (const FieldRecord& f : tree.fields()) {
    if (f.size < 0) FuzzFail("field of negative size");
    if (f.size == 0) continue;
    if (f.data < tree.frameBegin() || f.data > tree.frameEnd() || f.size > tree.frameEnd() - f.data)
      FuzzFail("field outside its frame");
  }
}

void RenderBoth(const DisplayTree& tree, uint32_t conn, bool clientToServer, int32_t result,
                int32_t tdsBytes) {
  FrameMeta meta;
  meta.frame = 1;
  meta.conn = conn;
  meta.clientToServer = clientToServer;
  meta.result = result;
  meta.tdsBytes = tdsBytes;
  RenderFrameJson(tree, meta, DiscardOut());
  RenderFrameText(tree, meta, DiscardOut());
}
