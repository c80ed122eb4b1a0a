// Drives the built plug-in (loaded as tdsdecode loads it) behind the engine, for the tests that
// look at robustness: frames of chosen connections through either entry, conversation stores
// per connection, a ledger of store blocks, and the TDS messages of a capture.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/store.h"

struct PluginEntries {
  ParseEntry packet = nullptr;
  TdsParseMessageFn message = nullptr;
  std::string error;  // why they could not be had
};

// libsybasetds.so beside the test binary, loaded once.
const PluginEntries& Entries();

// Tests of the built plug-in: skipped when it cannot be loaded.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Entries().error.empty()) GTEST_SKIP() << Entries().error;
  }
};

constexpr size_t kEthernetBytes = 14;

// The Ethernet header of a direction (client 02:00:00:00:00:01, server 02:00:00:00:00:02),
// then the bytes.
std::vector<uint8_t> WithEthernet(bool clientToServer, const uint8_t* bytes, size_t length);
inline std::vector<uint8_t> WithEthernet(bool clientToServer, const std::vector<uint8_t>& bytes) {
  return WithEthernet(clientToServer, bytes.data(), bytes.size());
}

// A TDS packet: 8-byte header (stated length `stated`, or the real one when negative) and data.
std::vector<uint8_t> TdsPacket(uint8_t type, uint8_t status, const std::vector<uint8_t>& data,
                               int32_t stated = -1);

// Decodes frames into one display tree, each connection with its conversation store.
class FrameDriver {
 public:
  explicit FrameDriver(size_t maxBlocksPerConnection = StoreRegistry::kDefaultMaxBlocks)
      : m_registry(maxBlocksPerConnection) {}

  // block: Ethernet header, then the TDS bytes (a frame for the packet entry, message data
  // for the message entry) up to block + length.
  int32_t Packet(uint32_t conn, const uint8_t* block, size_t length);
  int32_t Message(uint32_t conn, const uint8_t* block, size_t length, int32_t messageType,
                  int32_t channel, TdsMessageWalk* walk = nullptr);
  // The same with the block built on the heap around the bytes.
  int32_t Packet(uint32_t conn, bool clientToServer, const std::vector<uint8_t>& tds);
  int32_t Message(uint32_t conn, bool clientToServer, const std::vector<uint8_t>& data,
                  int32_t messageType, int32_t channel = 0, TdsMessageWalk* walk = nullptr);

  void End(uint32_t conn) { m_registry.End(conn); }
  void EndAll() { m_registry.EndAll(); }
  StoreRegistry& registry() { return m_registry; }
  const DisplayTree& tree() const { return m_tree; }
  // Every field of the last frame lies inside it.
  bool FieldsInFrame() const;
  // The last frame rendered as JSON and as text into an output that is thrown away.
  void RenderDiscarded() const;

 private:
  StoreRegistry m_registry;
  DisplayTree m_tree;
  std::vector<uint8_t> m_block;
};

// Watches the store while alive: what was handed over with a release callback and what came
// back through it.
class StoreLedger {
 public:
  StoreLedger();
  ~StoreLedger();
  StoreLedger(const StoreLedger&) = delete;
  StoreLedger& operator=(const StoreLedger&) = delete;

  uint64_t handed() const;
  uint64_t released() const;
  size_t live() const;  // handed and not yet released
  // Releases of a block that was not (or no longer) held: released twice, or never handed.
  uint64_t strays() const;
};

// One TDS message of a capture: the data of its packets, headers removed.
struct CapturedMessage {
  uint32_t conn;
  bool clientToServer;
  int32_t type;
  int32_t channel;
  std::vector<uint8_t> data;
};

// The messages of a capture's TDS connections in capture order (the host's connection table
// and reassembly put the streams together).
std::vector<CapturedMessage> MessagesOf(const std::string& capturePath);

// The tokens of a type in a capture's messages of one direction, as the message entry frames
// them.
std::vector<std::vector<uint8_t>> TokensOf(const std::string& capturePath, uint8_t token,
                                           bool clientToServer);

// Path of a file under tests/data.
std::string UnitTestData(const std::string& name);

// An output kept in memory.
class MemoryOutput {
 public:
  explicit MemoryOutput(size_t capacity = 64);
  ~MemoryOutput();
  MemoryOutput(const MemoryOutput&) = delete;
  MemoryOutput& operator=(const MemoryOutput&) = delete;

  OutBuffer& out() { return m_out; }
  // Everything written so far.
  std::string text();

 private:
  char* m_data = nullptr;
  size_t m_size = 0;
  FILE* m_file;
  OutBuffer m_out;
};
