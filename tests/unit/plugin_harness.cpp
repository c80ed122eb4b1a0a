#include "plugin_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "input/capture_reader.h"
#include "input/link_layer.h"
#include "options.h"
#include "stats.h"
#include "streams/connection_table.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/render.h"

#ifndef UNIT_TEST_DATA_DIR
#define UNIT_TEST_DATA_DIR "tests/data"
#endif

const PluginEntries& Entries() {
  static const PluginEntries entries = [] {
    PluginEntries e;
    Plugin plugin;
    if (!LoadPlugin(DefaultPluginPath(), plugin, e.error)) return e;
    e.packet = plugin.parse;
    e.message = reinterpret_cast<TdsParseMessageFn>(plugin.Find(TDS_PARSE_MESSAGE_SYMBOL));
    if (!e.message) e.error = "no entry " TDS_PARSE_MESSAGE_SYMBOL " in the plug-in";
    return e;
  }();
  return entries;
}

std::vector<uint8_t> WithEthernet(bool clientToServer, const uint8_t* bytes, size_t length) {
  const uint8_t other = clientToServer ? 2 : 1;  // the destination's last byte
  const uint8_t header[] = {2, 0, 0, 0, 0, other, 2, 0, 0, 0, 0, uint8_t(3 - other), 8, 0};
  // Sized once, then filled: GCC 12 warns (wrongly) about inserting after an initializer list.
  std::vector<uint8_t> block(sizeof(header) + length);
  std::copy(header, header + sizeof(header), block.begin());
  if (length) std::copy(bytes, bytes + length, block.begin() + sizeof(header));
  return block;
}

std::vector<uint8_t> TdsPacket(uint8_t type, uint8_t status, const std::vector<uint8_t>& data,
                               int32_t stated) {
  const uint32_t length =
      stated < 0 ? static_cast<uint32_t>(data.size() + 8) : static_cast<uint32_t>(stated);
  std::vector<uint8_t> p(8 + data.size(), 0);
  p[0] = type;
  p[1] = status;
  p[2] = static_cast<uint8_t>(length >> 8);
  p[3] = static_cast<uint8_t>(length);
  std::copy(data.begin(), data.end(), p.begin() + 8);
  return p;
}

int32_t FrameDriver::Packet(uint32_t conn, const uint8_t* block, size_t length) {
  const uint8_t* tds = block + kEthernetBytes;
  m_registry.Select(conn);
  m_tree.BeginFrame(block, length, tds);
  CPDecode decode(&m_tree);
  decode.ConnectionId = conn;
  const uint8_t* cursor = tds;
  return Entries().packet(block, &decode, 0, &cursor, static_cast<int32_t>(length - kEthernetBytes),
                          0);
}

int32_t FrameDriver::Message(uint32_t conn, const uint8_t* block, size_t length,
                             int32_t messageType, int32_t channel, TdsMessageWalk* walk) {
  const uint8_t* data = block + kEthernetBytes;
  m_registry.Select(conn);
  m_tree.BeginFrame(block, length, data);
  CPDecode decode(&m_tree);
  decode.ConnectionId = conn;
  return Entries().message(block, &decode, data, static_cast<int32_t>(length - kEthernetBytes),
                           messageType, channel, walk);
}

int32_t FrameDriver::Packet(uint32_t conn, bool clientToServer, const std::vector<uint8_t>& tds) {
  m_block = WithEthernet(clientToServer, tds);
  return Packet(conn, m_block.data(), m_block.size());
}

int32_t FrameDriver::Message(uint32_t conn, bool clientToServer, const std::vector<uint8_t>& data,
                             int32_t messageType, int32_t channel, TdsMessageWalk* walk) {
  m_block = WithEthernet(clientToServer, data);
  return Message(conn, m_block.data(), m_block.size(), messageType, channel, walk);
}

bool FrameDriver::FieldsInFrame() const {
  for (const FieldRecord& f : m_tree.fields()) {
    if (f.size < 0) return false;
    if (f.size == 0) continue;
    if (f.data < m_tree.frameBegin() || f.data > m_tree.frameEnd() ||
        f.size > m_tree.frameEnd() - f.data)
      return false;
  }
  return true;
}

void FrameDriver::RenderDiscarded() const {
  static FILE* sink = std::fopen("/dev/null", "w");
  static OutBuffer out(sink, 1 << 16);
  FrameMeta meta;
  RenderFrameJson(m_tree, meta, out);
  RenderFrameText(m_tree, meta, out);
}

namespace {

struct Held {
  SimBlockTag block;
  SimReleaseFn release;
};

struct LedgerState {
  std::vector<Held> held;
  uint64_t handed = 0;
  uint64_t released = 0;
  uint64_t strays = 0;
};
LedgerState g_ledger;

void OnHanded(const SimBlockTag& block, SimReleaseFn release) {
  ++g_ledger.handed;
  g_ledger.held.push_back(Held{block, release});
}

void OnReleased(const SimBlockTag& b, SimReleaseFn release) {
  ++g_ledger.released;
  std::vector<Held>& held = g_ledger.held;
  for (size_t i = held.size(); i-- > 0;) {
    const Held& h = held[i];
    if (h.release == release && h.block.kind == b.kind && h.block.key == b.key &&
        h.block.data == b.data && std::memcmp(h.block.text, b.text, sizeof(b.text)) == 0) {
      held[i] = held.back();
      held.pop_back();
      return;
    }
  }
  ++g_ledger.strays;
}

const StoreWatch kWatch{OnHanded, OnReleased};

}  // namespace

StoreLedger::StoreLedger() {
  g_ledger = LedgerState();
  SetStoreWatch(&kWatch);
}
StoreLedger::~StoreLedger() {
  SetStoreWatch(nullptr);
}
uint64_t StoreLedger::handed() const {
  return g_ledger.handed;
}
uint64_t StoreLedger::released() const {
  return g_ledger.released;
}
size_t StoreLedger::live() const {
  return g_ledger.held.size();
}
uint64_t StoreLedger::strays() const {
  return g_ledger.strays;
}

namespace {

// Cuts a direction's in-order bytes into TDS packets and whole messages.
class MessageSink : public DirectionSink {
 public:
  MessageSink(std::vector<CapturedMessage>& out, uint32_t conn, bool c2s)
      : m_out(out), m_conn(conn), m_c2s(c2s) {}

  void Deliver(const StreamPiece& piece) override {
    m_bytes.insert(m_bytes.end(), piece.data, piece.data + piece.length);
    size_t at = 0;
    while (m_bytes.size() - at >= 8) {
      size_t extent = size_t(m_bytes[at + 2]) << 8 | m_bytes[at + 3];
      if (extent < 8) extent = 8;
      if (m_bytes.size() - at < extent) break;
      const uint8_t* p = m_bytes.data() + at;
      if (m_packets++ == 0) {
        m_type = p[0];
        m_channel = p[4] << 8 | p[5];
      }
      m_data.insert(m_data.end(), p + 8, p + extent);
      if (p[1] & 0x01) Flush();
      at += extent;
    }
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  void Gap(const StreamPiece&) override { m_bytes.clear(); }
  void End(uint64_t) override {
    if (m_packets) Flush();
  }
  size_t HeldBytes() const override { return m_bytes.capacity() + m_data.capacity(); }

 private:
  void Flush() {
    m_out.push_back(CapturedMessage{m_conn, m_c2s, m_type, m_channel, m_data});
    m_data.clear();
    m_packets = 0;
  }

  std::vector<CapturedMessage>& m_out;
  uint32_t m_conn;
  bool m_c2s;
  int32_t m_type = 0;
  int32_t m_channel = 0;
  std::vector<uint8_t> m_bytes;
  std::vector<uint8_t> m_data;
  size_t m_packets = 0;  // of the message so far
};

class MessageCollector : public View {
 public:
  explicit MessageCollector(std::vector<CapturedMessage>& out) : m_out(out) {}
  DirectionSink* OpenDirection(uint32_t conn, bool c2s, bool) override {
    return new MessageSink(m_out, conn, c2s);
  }
  void CloseDirection(DirectionSink* sink) override { delete sink; }
  void ConnectionEnded(uint32_t) override {}

 private:
  std::vector<CapturedMessage>& m_out;
};

}  // namespace

std::vector<CapturedMessage> MessagesOf(const std::string& capturePath) {
  std::vector<CapturedMessage> messages;
  std::string error;
  std::unique_ptr<CaptureSource> source = CaptureSource::Open(capturePath, error);
  if (!source) return messages;
  Options options;
  HostStats stats;
  MessageCollector collector(messages);
  ConnectionTable table(options, collector, stats);
  InputFrame input;
  TcpSegment segment;
  uint64_t frame = 0;
  while (source->Next(input)) {
    ++frame;
    if (DecodeFrame(input.linkType, input.data, input.captured, input.wire, segment) ==
        LinkResult::kTcp)
      table.Segment(segment, frame);
  }
  table.EndAll(frame);
  return messages;
}

std::vector<std::vector<uint8_t>> TokensOf(const std::string& capturePath, uint8_t token,
                                           bool clientToServer) {
  std::vector<std::vector<uint8_t>> tokens;
  FrameDriver driver;
  for (const CapturedMessage& m : MessagesOf(capturePath)) {
    driver.Message(1, m.clientToServer, m.data, m.type, m.channel);
    if (m.clientToServer != clientToServer) continue;
    for (const PacketRecord& p : driver.tree().packets()) {
      if (p.token != token || p.spanOffset < 0 || p.spanSize <= 0) continue;
      const auto begin = m.data.begin() + p.spanOffset;
      tokens.emplace_back(begin, begin + p.spanSize);
    }
  }
  driver.EndAll();
  return tokens;
}

std::string UnitTestData(const std::string& name) {
  return std::string(UNIT_TEST_DATA_DIR) + "/" + name;
}

MemoryOutput::MemoryOutput(size_t capacity)
    : m_file(open_memstream(&m_data, &m_size)), m_out(m_file, capacity) {}

MemoryOutput::~MemoryOutput() {
  m_out.flush();
  std::fclose(m_file);
  std::free(m_data);
}

std::string MemoryOutput::text() {
  m_out.flush();
  std::fflush(m_file);
  return std::string(m_data, m_size);
}
