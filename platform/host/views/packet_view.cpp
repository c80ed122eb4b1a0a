#include "views/packet_view.h"

#include <cstring>

#include "input/link_layer.h"
#include "tdsengine/engine.h"
#include "tdsengine/field_value.h"
#include "tdsengine/render.h"

namespace {

const char kMessageTypeLabel[] = "TDS Message Type";
const char kTokenTypeLabel[] = "TDS Token Type";
constexpr uint32_t kHeaderFieldsScanned = 16;  // the token type follows the header closely

// One direction of a connection in the packet view.
class PacketSink : public DirectionSink {
 public:
  PacketSink(PacketView& view, HostStats& stats, uint32_t conn, bool clientToServer,
             bool reassemble, PacketFramer::Mode start)
      : m_view(view),
        m_stats(stats),
        m_conn(conn),
        m_c2s(clientToServer),
        m_reassemble(reassemble),
        m_framer(start) {}

  ~PacketSink() override { m_stats.bytesSkipped += m_framer.skippedBytes(); }

  void Deliver(const StreamPiece& piece) override {
    Remember(piece);
    if (!m_reassemble) {
      m_view.Decode(m_conn, m_c2s, piece.frame, piece.ethernet, piece.block, piece.data,
                    piece.length);
      return;
    }
    FramedBytes out;
    if (m_framer.Feed(piece.data, piece.length, m_view.scratch(), out))
      m_view.Decode(m_conn, m_c2s, piece.frame, piece.ethernet, out.inInput ? piece.block : nullptr,
                    out.data, out.length);
  }

  void Gap(const StreamPiece& context) override {
    FramedBytes out;
    if (m_framer.Gap(m_view.scratch(), out)) {
      m_stats.heldBytesAtGaps += out.length;
      m_view.Decode(m_conn, m_c2s, context.frame, Ethernet(context), nullptr, out.data, out.length);
    }
  }

  void End(uint64_t frame) override {
    FramedBytes out;
    if (m_framer.End(m_view.scratch(), out)) {
      m_stats.heldBytesAtEnd += out.length;
      m_view.Decode(m_conn, m_c2s, frame, m_ethernet, nullptr, out.data, out.length);
    }
  }

  size_t HeldBytes() const override { return m_framer.heldCapacity(); }

 private:
  void Remember(const StreamPiece& piece) {
    if (piece.ethernet) std::memcpy(m_ethernet, piece.ethernet, kEthernetHeader);
  }
  const uint8_t* Ethernet(const StreamPiece& context) {
    if (context.ethernet) std::memcpy(m_ethernet, context.ethernet, kEthernetHeader);
    return m_ethernet;
  }

  PacketView& m_view;
  HostStats& m_stats;
  uint32_t m_conn;
  bool m_c2s;
  bool m_reassemble;
  PacketFramer m_framer;
  uint8_t m_ethernet[kEthernetHeader] = {};
};

}  // namespace

PacketView::PacketView(ParseEntry parse, const Options& options, OutBuffer& out, HostStats& stats)
    : m_parse(parse), m_options(options), m_out(out), m_stats(stats) {}

PacketView::~PacketView() {
  m_registry.EndAll();
}

DirectionSink* PacketView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  const PacketFramer::Mode start =
      midStream ? PacketFramer::Mode::kWaitForStart : PacketFramer::Mode::kFraming;
  return new PacketSink(*this, m_stats, conn, clientToServer, m_options.reassemble, start);
}

void PacketView::CloseDirection(DirectionSink* sink) {
  delete sink;
}

void PacketView::ConnectionEnded(uint32_t conn) {
  m_registry.End(conn);
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
}

void PacketView::EndAll() {
  m_registry.EndAll();
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
}

void PacketView::Decode(uint32_t conn, bool clientToServer, uint64_t frame, const uint8_t* ethernet,
                        const uint8_t* block, const uint8_t* data, size_t length) {
  if (length == 0) return;
  const uint8_t* frameBlock = block;
  const uint8_t* tds = data;
  if (!frameBlock) {
    m_block.resize(kEthernetHeader + length);
    std::memcpy(m_block.data(), ethernet, kEthernetHeader);
    std::memcpy(m_block.data() + kEthernetHeader, data, length);
    frameBlock = m_block.data();
    tds = frameBlock + kEthernetHeader;
  }
  const size_t blockLength = static_cast<size_t>(tds - frameBlock) + length;

  m_registry.Select(conn);
  m_tree.BeginFrame(frameBlock, blockLength, tds);
  CPDecode decode(&m_tree);
  decode.ConnectionId = conn;
  const uint8_t* cursor = tds;
  const int32_t result = m_parse(frameBlock, &decode, 0, &cursor, static_cast<int32_t>(length), 0);

  FrameMeta meta;
  meta.frame = frame;
  meta.conn = conn;
  meta.clientToServer = clientToServer;
  meta.result = result;
  meta.tdsBytes = static_cast<int32_t>(length);
  if (m_options.format == OutputFormat::kJson)
    RenderFrameJson(m_tree, meta, m_out);
  else
    RenderFrameText(m_tree, meta, m_out);
  Count();
}

void PacketView::Count() {
  ++m_stats.framesDecoded;
  if (m_tree.anyRefused()) ++m_stats.framesCutShort;
  const std::vector<FieldRecord>& fields = m_tree.fields();
  for (const PacketRecord& p : m_tree.packets()) {
    ++m_stats.tdsPackets;
    const uint32_t scan = p.fieldCount < kHeaderFieldsScanned ? p.fieldCount : kHeaderFieldsScanned;
    for (uint32_t i = 0; i < scan; ++i) {
      const FieldRecord& f = fields[p.firstField + i];
      // Both labels begin with "TDS ": most header fields are told apart by their first byte.
      const bool maybe = f.label[0] == 'T';
      const bool isType = maybe && std::strcmp(f.label, kMessageTypeLabel) == 0;
      const bool isToken = maybe && !isType && std::strcmp(f.label, kTokenTypeLabel) == 0;
      if (!isType && !isToken) continue;
      const uint8_t value = static_cast<uint8_t>(FieldUnsigned(f));
      const int row = FieldTableRow(f);
      const char* text = row >= 0 ? f.table[row].text : nullptr;
      if (isType) {
        ++m_stats.messageTypes[value];
        if (text) m_stats.messageTypeText[value] = text;
      } else {
        ++m_stats.firstTokens[value];
        if (text) m_stats.tokenText[value] = text;
        break;
      }
    }
  }
}
