// The plug-in behind the engine: the input is cut into frames of one or two connections, each
// handed to the packet entry or, with its TDS packet headers taken off, to the message entry.
// Format records filed by one frame are found, replaced and released by later ones; the
// connections end with the input, and every block must then have been released once.
//
// Input: records of [control][length, 2 bytes, least significant first][bytes]; a length
// beyond the input takes what is left. Control bits:
//   0x01  second connection          0x02  server to client
//   0x04  message entry              0x08  the connection ends after this frame
#include <cstdint>
#include <cstring>
#include <vector>

#include "entry/packet_state.h"
#include "fuzz_support.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/engine.h"
#include "tdsengine/message.h"
#include "tdsengine/store.h"

extern "C" int32_t sybasetds_parse_message(const uint8_t* frame, CPDecode* tree,
                                           const uint8_t* data, int32_t length, int32_t messageType,
                                           int32_t channel, TdsMessageWalk* walk);

namespace {

constexpr size_t kEthernet = 14;
constexpr size_t kTdsHeader = 8;
// Small enough that the fuzzer can fill a store and watch the ceiling refuse blocks.
constexpr size_t kBlocksPerConnection = 64;

struct Record {
  uint8_t control;
  const uint8_t* bytes;
  size_t length;
};

bool NextRecord(const uint8_t*& at, const uint8_t* end, Record& r) {
  if (end - at < 1) return false;
  r.control = at[0];
  size_t length = end - at >= 3 ? size_t(at[1]) | size_t(at[2]) << 8 : 0;
  at += end - at >= 3 ? 3 : end - at;
  if (length > size_t(end - at)) length = size_t(end - at);
  r.bytes = at;
  r.length = length;
  at += length;
  return true;
}

void PutEthernet(uint8_t* eth, bool clientToServer) {
  static const uint8_t kClient[6] = {2, 0, 0, 0, 0, 1};
  static const uint8_t kServer[6] = {2, 0, 0, 0, 0, 2};
  std::memcpy(eth, clientToServer ? kServer : kClient, 6);
  std::memcpy(eth + 6, clientToServer ? kClient : kServer, 6);
  eth[12] = 0x08;
  eth[13] = 0x00;
}

// A fresh block of exactly the frame's size, so any read past its end is caught.
std::vector<uint8_t> FrameBlock(bool clientToServer, const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> block(kEthernet + length);
  PutEthernet(block.data(), clientToServer);
  if (length) std::memcpy(block.data() + kEthernet, bytes, length);
  block.shrink_to_fit();
  return block;
}

void PacketEntry(DisplayTree& tree, uint32_t conn, bool c2s, const Record& r) {
  if (r.length == 0) return;
  std::vector<uint8_t> block = FrameBlock(c2s, r.bytes, r.length);
  const uint8_t* tds = block.data() + kEthernet;
  tree.BeginFrame(block.data(), block.size(), tds);
  CPDecode decode(&tree);
  decode.ConnectionId = conn;
  const uint8_t* cursor = tds;
  const int32_t result =
      sybasetds_parse(block.data(), &decode, 0, &cursor, static_cast<int32_t>(r.length), 0);
  if (cursor < tds || cursor > tds + r.length) FuzzFail("packet entry cursor left the frame");
  CheckTree(tree);
  RenderBoth(tree, conn, c2s, result, static_cast<int32_t>(r.length));
}

// The data of the record's TDS packets, headers removed, as the host's message view would
// assemble them; the message type and channel come from the first header.
void MessageEntry(DisplayTree& tree, uint32_t conn, bool c2s, const Record& r) {
  // Control bits 0x10 and 0x20 force a byte order, 0x40 makes a trial walk, 0x80 shows passwords.
  TdsMessageWalk walk{};
  walk.clientToServer = c2s ? 1 : 0;
  if (r.control & 0x10) walk.forceOrder = kWalkOrderBig;
  if (r.control & 0x20) walk.forceOrder = kWalkOrderLittle;
  if (r.control & 0x40) walk.flags |= kWalkProbe;
  if (r.control & 0x80) walk.flags |= kWalkShowPasswords;
  std::vector<uint8_t> data;
  int32_t messageType = 15;
  int32_t channel = 0;
  if (r.length >= kTdsHeader) {
    messageType = r.bytes[0];
    channel = r.bytes[4] << 8 | r.bytes[5];
  }
  size_t at = 0;
  while (r.length - at >= kTdsHeader) {
    size_t extent = size_t(r.bytes[at + 2]) << 8 | r.bytes[at + 3];
    if (extent < kTdsHeader) extent = kTdsHeader;
    if (extent > r.length - at) extent = r.length - at;
    data.insert(data.end(), r.bytes + at + kTdsHeader, r.bytes + at + extent);
    at += extent;
  }
  data.insert(data.end(), r.bytes + at, r.bytes + r.length);

  std::vector<uint8_t> block = FrameBlock(c2s, data.data(), data.size());
  const uint8_t* message = block.data() + kEthernet;
  const int32_t length = static_cast<int32_t>(data.size());
  tree.BeginFrame(block.data(), block.size(), message);
  CPDecode decode(&tree);
  decode.ConnectionId = conn;
  const int32_t result =
      sybasetds_parse_message(block.data(), &decode, message, length, messageType, channel, &walk);
  if (walk.tokens < 0 || walk.restSize < 0 || walk.restOffset < 0 ||
      walk.restOffset + walk.restSize > length)
    FuzzFail("message walk out of range");
  for (const ValueRecord& v : tree.values()) {
    const size_t texts = tree.texts().size();
    if (v.nameBegin + v.nameSize > texts || v.textBegin + v.textSize > texts)
      FuzzFail("value text outside the tree's texts");
  }
  for (const PacketRecord& p : tree.packets()) {
    if (p.spanOffset < 0) continue;
    if (p.spanSize < 0 || p.spanOffset > length || p.spanSize > length - p.spanOffset)
      FuzzFail("token span outside the message");
  }
  CheckTree(tree);
  RenderBoth(tree, conn, c2s, result, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ConnByteOrder = 0;  // the plug-in keeps the last connection's order between calls
  ReleaseLedger ledger;
  {
    StoreRegistry registry(kBlocksPerConnection);
    DisplayTree tree;
    const uint8_t* at = data;
    const uint8_t* end = data + size;
    Record r;
    while (NextRecord(at, end, r)) {
      const uint32_t conn = (r.control & 0x01) ? 2 : 1;
      const bool c2s = (r.control & 0x02) == 0;
      registry.Select(conn);
      if (r.control & 0x04)
        MessageEntry(tree, conn, c2s, r);
      else
        PacketEntry(tree, conn, c2s, r);
      if (r.control & 0x08) registry.End(conn);
    }
    registry.EndAll();
  }
  ledger.ExpectAllReleased();
  SetCurrentStore(nullptr);
  return 0;
}
