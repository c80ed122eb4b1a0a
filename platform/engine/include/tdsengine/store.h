// Conversation stores: one per connection, holding the plug-in's blocks under (kind, key).
// A store is released when its connection ends; every block's release callback then runs once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "tdsengine/engine.h"

class TDSENGINE_API ConversationStore {
 public:
  explicit ConversationStore(size_t maxBlocks) : m_maxBlocks(maxBlocks) {}
  ~ConversationStore();
  ConversationStore(const ConversationStore&) = delete;
  ConversationStore& operator=(const ConversationStore&) = delete;

  int Add(const SimBlockTag& block, SimReleaseFn release);
  int Find(uint8_t kind, uint32_t key, SimBlockTag* out) const;
  int Delete(uint8_t kind, uint32_t key);
  void Clear();

  size_t size() const { return m_blocks.size(); }
  uint64_t dropped() const { return m_dropped; }

 private:
  struct Entry {
    uint64_t slot;
    SimBlockTag block;
    SimReleaseFn release;
  };
  static uint64_t Slot(uint8_t kind, uint32_t key) { return (uint64_t(kind) << 32) | key; }
  static void Release(const Entry& entry);
  // The entry of `slot`, or where it would go.
  std::vector<Entry>::iterator Seek(uint64_t slot);
  std::vector<Entry>::const_iterator Seek(uint64_t slot) const;

  size_t m_maxBlocks;
  uint64_t m_dropped = 0;
  // Sorted by slot: a connection keeps a handful of blocks, so a flat array costs far less
  // than a hash table per connection and is searched as fast.
  std::vector<Entry> m_blocks;
};

// The stores of all live connections; the Sim* calls act on the selected one.
class TDSENGINE_API StoreRegistry {
 public:
  static constexpr size_t kDefaultMaxBlocks = 4096;

  explicit StoreRegistry(size_t maxBlocksPerConnection = kDefaultMaxBlocks)
      : m_maxBlocks(maxBlocksPerConnection) {}
  ~StoreRegistry();

  // Makes the connection's store the one the Sim* calls use (creating it when new).
  void Select(uint64_t connection);
  // Releases the connection's blocks and forgets the store.
  void End(uint64_t connection);
  void EndAll();

  size_t liveStores() const { return m_stores.size(); }
  uint64_t droppedBlocks() const { return m_dropped; }

 private:
  size_t m_maxBlocks;
  uint64_t m_dropped = 0;
  std::unordered_map<uint64_t, ConversationStore> m_stores;  // nodes: a store never moves
};

// The store the Sim* calls act on; null when none is selected (calls then fail).
TDSENGINE_API ConversationStore* CurrentStore();
TDSENGINE_API void SetCurrentStore(ConversationStore* store);
// Test hook: told of every block handed to SimAddInfo with a release callback, and of every
// call of such a callback, whether the store keeps, replaces, refuses or clears the block.
// Null (the default) tells nobody.
struct StoreWatch {
  void (*handed)(const SimBlockTag& block, SimReleaseFn release);
  void (*released)(const SimBlockTag& block, SimReleaseFn release);
};
TDSENGINE_API void SetStoreWatch(const StoreWatch* watch);

// The frame being decoded: value holders read zero outside it.
TDSENGINE_API void SetCurrentFrame(const uint8_t* begin, const uint8_t* end);
