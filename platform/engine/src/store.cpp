// Per-connection conversation stores.
#include "tdsengine/store.h"

#include <algorithm>
#include <tuple>

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

std::vector<ConversationStore::Entry>::iterator ConversationStore::Seek(uint64_t slot) {
  return std::lower_bound(m_blocks.begin(), m_blocks.end(), slot,
                          [](const Entry& e, uint64_t s) { return e.slot < s; });
}

std::vector<ConversationStore::Entry>::const_iterator ConversationStore::Seek(uint64_t slot) const {
  return std::lower_bound(m_blocks.begin(), m_blocks.end(), slot,
                          [](const Entry& e, uint64_t s) { return e.slot < s; });
}

int ConversationStore::Add(const SimBlockTag& block, SimReleaseFn release) {
  const uint64_t slot = Slot(block.kind, block.key);
  auto it = Seek(slot);
  if (it != m_blocks.end() && it->slot == slot) {
    // A block filed again under its key replaces the older one, which is released.
    Entry old = *it;
    *it = Entry{slot, block, release};
    Release(old);
    return 1;
  }
  if (m_blocks.size() >= m_maxBlocks) {
    // Past the ceiling the block is not kept; its owner gets it back at once.
    ++m_dropped;
    Release(Entry{slot, block, release});
    return 0;
  }
  m_blocks.insert(it, Entry{slot, block, release});
  return 1;
}

int ConversationStore::Find(uint8_t kind, uint32_t key, SimBlockTag* out) const {
  const uint64_t slot = Slot(kind, key);
  auto it = Seek(slot);
  if (it == m_blocks.end() || it->slot != slot) return 0;
  if (out) *out = it->block;
  return 1;
}

int ConversationStore::Delete(uint8_t kind, uint32_t key) {
  const uint64_t slot = Slot(kind, key);
  auto it = Seek(slot);
  if (it == m_blocks.end() || it->slot != slot) return 0;
  Entry old = *it;
  m_blocks.erase(it);
  Release(old);
  return 1;
}

void ConversationStore::Clear() {
  // Callbacks may not touch the store; take the blocks out first.
  std::vector<Entry> blocks;
  blocks.swap(m_blocks);
  for (const Entry& e : blocks) Release(e);
}

StoreRegistry::~StoreRegistry() {
  EndAll();
}

void StoreRegistry::Select(uint64_t connection) {
  auto it = m_stores.find(connection);
  if (it == m_stores.end())
    it = m_stores
             .emplace(std::piecewise_construct, std::forward_as_tuple(connection),
                      std::forward_as_tuple(m_maxBlocks))
             .first;
  SetCurrentStore(&it->second);
}

void StoreRegistry::End(uint64_t connection) {
  auto it = m_stores.find(connection);
  if (it == m_stores.end()) return;
  if (CurrentStore() == &it->second) SetCurrentStore(nullptr);
  m_dropped += it->second.dropped();
  it->second.Clear();
  m_stores.erase(it);
}

void StoreRegistry::EndAll() {
  for (auto& kv : m_stores) {
    if (CurrentStore() == &kv.second) SetCurrentStore(nullptr);
    m_dropped += kv.second.dropped();
    kv.second.Clear();
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
