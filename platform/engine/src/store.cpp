// Per-connection conversation stores.
#include "tdsengine/store.h"

namespace {
ConversationStore* g_current = nullptr;
const StoreWatch* g_watch = nullptr;

void CallRelease(const SimBlockTag& block, SimReleaseFn release) {
  if (!release) return;
  if (g_watch && g_watch->released) g_watch->released(block, release);
  release(block);
}
}  // namespace

void SetStoreWatch(const StoreWatch* watch) {
  g_watch = watch;
}

ConversationStore* CurrentStore() {
  return g_current;
}
void SetCurrentStore(ConversationStore* store) {
  g_current = store;
}

ConversationStore::~ConversationStore() {
  Clear();
}

void ConversationStore::Release(const Entry& entry) {
  CallRelease(entry.block, entry.release);
}

int ConversationStore::Add(const SimBlockTag& block, SimReleaseFn release) {
  const uint64_t slot = Slot(block.kind, block.key);
  auto it = m_blocks.find(slot);
  if (it != m_blocks.end()) {
    // A block filed again under its key replaces the older one, which is released.
    Entry old = it->second;
    it->second = Entry{block, release};
    Release(old);
    return 1;
  }
  if (m_blocks.size() >= m_maxBlocks) {
    // Past the ceiling the block is not kept; its owner gets it back at once.
    ++m_dropped;
    Release(Entry{block, release});
    return 0;
  }
  m_blocks.emplace(slot, Entry{block, release});
  return 1;
}

int ConversationStore::Find(uint8_t kind, uint32_t key, SimBlockTag* out) const {
  auto it = m_blocks.find(Slot(kind, key));
  if (it == m_blocks.end()) return 0;
  if (out) *out = it->second.block;
  return 1;
}

int ConversationStore::Delete(uint8_t kind, uint32_t key) {
  auto it = m_blocks.find(Slot(kind, key));
  if (it == m_blocks.end()) return 0;
  Entry old = it->second;
  m_blocks.erase(it);
  Release(old);
  return 1;
}

void ConversationStore::Clear() {
  // Callbacks may not touch the store; take the blocks out first.
  std::unordered_map<uint64_t, Entry> blocks;
  blocks.swap(m_blocks);
  for (auto& kv : blocks) Release(kv.second);
}

StoreRegistry::~StoreRegistry() {
  EndAll();
}

void StoreRegistry::Select(uint64_t connection) {
  auto it = m_stores.find(connection);
  if (it == m_stores.end())
    it = m_stores.emplace(connection, std::make_unique<ConversationStore>(m_maxBlocks)).first;
  SetCurrentStore(it->second.get());
}

void StoreRegistry::End(uint64_t connection) {
  auto it = m_stores.find(connection);
  if (it == m_stores.end()) return;
  if (CurrentStore() == it->second.get()) SetCurrentStore(nullptr);
  m_dropped += it->second->dropped();
  it->second->Clear();
  m_stores.erase(it);
}

void StoreRegistry::EndAll() {
  for (auto& kv : m_stores) {
    if (CurrentStore() == kv.second.get()) SetCurrentStore(nullptr);
    m_dropped += kv.second->dropped();
    kv.second->Clear();
  }
  m_stores.clear();
}

int SimAddInfo(SimBlockTag* block, SimReleaseFn release) {
  if (!block) return 0;
  if (release && g_watch && g_watch->handed) g_watch->handed(*block, release);
  if (!g_current) {
    CallRelease(*block, release);
    return 0;
  }
  return g_current->Add(*block, release);
}

int SimFindInfo(uint8_t kind, uint32_t key, SimBlockTag* block, int /*flag*/) {
  return g_current ? g_current->Find(kind, key, block) : 0;
}

int SimDeleteInfo(uint8_t kind, uint32_t key, int /*flag*/) {
  return g_current ? g_current->Delete(kind, key) : 0;
}
