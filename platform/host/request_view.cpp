#include "request_view.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "entry/token_extent.h"
#include "link_layer.h"
#include "tdsengine/field_value.h"
#include "tokens/datatypes.h"

namespace {

constexpr size_t kTdsHeader = 8;
// Rows are framed here, not walked, so a message does not make a large display tree: the log
// holds larger answers whole than the message view does, to see their completion.
constexpr size_t kHeldCeiling = 16 * 1024 * 1024;
constexpr uint8_t kRowToken = 0xD1;
constexpr int32_t kRowFormatToken = 0xEE;
constexpr uint8_t kTdsInfoKind = 183;  // the kind of the plug-in's store blocks

// One direction of a connection: its messages, and where each one's first byte came from.
class RequestDirection : public DirectionSink, private MessageAssembler::Consumer {
 public:
  RequestDirection(RequestView& view, uint32_t conn, bool clientToServer, bool midStream)
      : m_view(view), m_conn(conn), m_c2s(clientToServer), m_assembler(midStream, kHeldCeiling) {}

  void Deliver(const StreamPiece& piece) override {
    if (piece.length == 0) return;
    m_feeds.push_back(Feed{m_fed, piece.frame, m_view.now()});
    m_fed += piece.length;
    m_assembler.Feed(piece.data, piece.length, piece.frame, piece.ethernet, *this);
  }

  void Gap(const StreamPiece& context) override {
    m_assembler.Gap(context.frame, context.ethernet, *this);
    m_nextStart = m_fed;  // what was held is gone
    m_passedOver = m_assembler.counters().bytesPassedOver;
    m_view.Lost(m_conn, m_c2s);
  }

  void End(uint64_t frame) override { m_assembler.End(frame, *this); }

  size_t HeldBytes() const override {
    return m_assembler.heldCapacity() + m_feeds.size() * sizeof(Feed);
  }

 private:
  struct Feed {
    uint64_t start;  // stream offset of the piece's first byte
    uint64_t frame;
    int64_t us;
  };

  void Message(const AssembledMessage& message) override {
    // Messages lie back to back in the stream, but for bytes the assembler passed over.
    const uint64_t passed = m_assembler.counters().bytesPassedOver;
    uint64_t start = m_nextStart + (passed - m_passedOver);
    m_passedOver = passed;
    m_nextStart = start + message.length + kTdsHeader * message.packets;
    if (m_nextStart > m_fed) m_nextStart = m_fed;
    if (start >= m_fed && m_fed > 0) start = m_fed - 1;
    while (m_feeds.size() > 1 && m_feeds[1].start <= start) m_feeds.pop_front();
    const Feed first = m_feeds.empty() ? Feed{0, message.lastFrame, m_view.now()} : m_feeds.front();
    m_view.Walk(m_conn, m_c2s, message, first.frame, first.us);
    // Only the piece being read can hold the start of the next message.
    while (m_feeds.size() > 1) m_feeds.pop_front();
  }

  RequestView& m_view;
  uint32_t m_conn;
  bool m_c2s;
  MessageAssembler m_assembler;
  std::deque<Feed> m_feeds;  // pieces since the one that holds the next message's start
  uint64_t m_fed = 0;
  uint64_t m_nextStart = 0;
  uint64_t m_passedOver = 0;
};

}  // namespace

std::string EndpointText(uint8_t ipVersion, const uint8_t* address, uint16_t port) {
  char text[INET6_ADDRSTRLEN] = {};
  const bool v6 = ipVersion == 6;
  if (!inet_ntop(v6 ? AF_INET6 : AF_INET, address, text, sizeof(text))) text[0] = '\0';
  std::string s = v6 ? std::string("[") + text + "]" : std::string(text);
  return s + ":" + std::to_string(port);
}

RequestView::RequestView(TdsParseMessageFn walk, RequestOutput& out, HostStats& stats,
                         const int64_t& clock)
    : m_walk(walk), m_stats(stats), m_clock(clock), m_tracker(out) {}

RequestView::~RequestView() {
  m_registry.EndAll();
}

DirectionSink* RequestView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  return new RequestDirection(*this, conn, clientToServer, midStream);
}

void RequestView::CloseDirection(DirectionSink* sink) {
  delete sink;
}

void RequestView::ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) {
  m_tracker.ConnectionOpened(conn, EndpointText(ends.ipVersion, ends.client, ends.clientPort),
                             EndpointText(ends.ipVersion, ends.server, ends.serverPort));
}

void RequestView::ConnectionEnded(uint32_t conn) {
  m_registry.End(conn);
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
  m_rowFormats.erase(conn);
  m_tracker.ConnectionEnded(conn);
}

void RequestView::EndAll() {
  m_registry.EndAll();
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
  m_rowFormats.clear();
}

void RequestView::Finish() {
  m_tracker.Finish();
}

void RequestView::Walk(uint32_t conn, bool clientToServer, const AssembledMessage& message,
                       uint64_t firstFrame, int64_t firstUs) {
  m_registry.Select(conn);
  ++m_stats.framesDecoded;
  WalkedMessage w;
  w.conn = conn;
  w.clientToServer = clientToServer;
  w.type = message.type;
  w.firstFrame = firstFrame;
  w.lastFrame = message.lastFrame;
  w.firstUs = firstUs;
  w.lastUs = m_clock;
  w.bytes = static_cast<int32_t>(message.length);
  switch (message.cut) {
    case MessageCut::kNone:
      break;
    case MessageCut::kEnd:
      w.cut = WalkedMessage::Cut::kEnd;
      break;
    case MessageCut::kGap:
    case MessageCut::kCeiling:
      w.cut = WalkedMessage::Cut::kLost;
      break;
    case MessageCut::kLostStart:
    case MessageCut::kJoinedMidway:
      w.cut = WalkedMessage::Cut::kStart;
      break;
  }
  w.cutReason = MessageCutText(message.cut);

  const bool tokens = message.type == 4 || message.type == 15 || message.type == 16;
  if (clientToServer || !tokens) {
    WalkPart(w, message, 0, message.length);
    return;
  }
  // A server's answer is mostly rows. The walk of a row shows every value, which the log does
  // not need, so runs of rows are only framed, by the row format the plug-in filed (the same
  // datatype rules), and the tokens around them are walked in parts.
  RowFormat& format = m_rowFormats[conn];
  const uint8_t* data = message.data;
  const size_t length = message.length;
  if (format.order == 0) format.order = ConnectionByteOrder(conn);
  const int32_t order = format.order ? format.order : 1;
  size_t at = 0;
  size_t part = 0;           // the first byte not yet walked or framed
  size_t formatPending = 0;  // 1 + the offset of the last row format to be walked
  while (at < length) {
    if (data[at] == kRowToken) {
      if (part < at) {
        w.last = false;
        WalkPart(w, message, part, at);
        part = at;
      }
      if (!format.valid) break;  // the walk shows what the plug-in makes of it
      uint64_t rows = 0;
      while (at < length && data[at] == kRowToken) {
        const size_t size = RowExtent(format, data + at, length - at, order);
        if (size == 0) break;
        at += size;
        ++rows;
      }
      m_tracker.Rows(w, rows);
      part = at;
      if (at < length && data[at] == kRowToken) break;  // a row that does not fit its format
      continue;
    }
    const TokenExtent extent = FrameToken(data + at, static_cast<int32_t>(length - at), order);
    if (extent.kind != ExtentKind::Sized) break;  // the walk takes it from here
    const size_t size = static_cast<size_t>(extent.size);
    if (data[at] == kRowFormatToken) {
      // The row format walked last again: the plug-in would file what it holds already. (A
      // format in the part not yet walked is the last one then.)
      const bool pending = formatPending && formatPending > part;
      if (!pending && format.SameToken(message, data + at, size)) {
        if (part < at) {
          w.last = false;
          WalkPart(w, message, part, at);
        }
        m_tracker.RepeatRowFormat(w);
        part = at + size;
      } else {
        formatPending = at + 1;
      }
    }
    at += size;
  }
  w.last = true;
  WalkPart(w, message, part, length);
}

void RequestView::WalkPart(WalkedMessage& w, const AssembledMessage& message, size_t from,
                           size_t to) {
  m_tree.BeginFrame(message.block, kEthernetHeader + message.length, message.data + from);
  CPDecode decode(&m_tree);
  decode.ConnectionId = w.conn;
  TdsMessageWalk walk{};
  walk.clientToServer = w.clientToServer ? 1 : 0;
  const int32_t length = static_cast<int32_t>(to - from);
  m_walk(message.block, &decode, message.data + from, length, message.type, message.channel, &walk);
  w.walkedToEnd = walk.restSize == 0;
  w.restReason = walk.restReason;
  w.tree = &m_tree;
  if (!w.clientToServer) KeepRowFormat(w.conn, message);
  m_tracker.Message(w);
}

bool RequestView::RowFormat::SameToken(const AssembledMessage& message, const uint8_t* at,
                                       size_t size) const {
  return !token.empty() && token.size() == size && channel == message.channel &&
         std::memcmp(frameStart, message.block, sizeof(frameStart)) == 0 &&
         std::memcmp(token.data(), at, size) == 0;
}

void RequestView::KeepRowFormat(uint32_t conn, const AssembledMessage& message) {
  RowFormat* format = nullptr;
  for (const PacketRecord& p : m_tree.packets()) {
    if (p.token != kRowFormatToken) continue;
    if (!format) format = &m_rowFormats[conn];
    // Its bytes, and what the plug-in keys its formats by, to know it when it comes again.
    format->token.clear();
    if (p.spanOffset >= 0 && p.spanSize > 0) {
      const uint8_t* start = m_tree.tdsBegin() + p.spanOffset;
      format->token.assign(start, start + p.spanSize);
    }
    format->channel = message.channel;
    std::memcpy(format->frameStart, message.block, sizeof(format->frameStart));
    // As the plug-in files it: the datatype of every column, or nothing when the token was
    // cut short or names a datatype without a rule.
    format->types.clear();
    int64_t columns = -1;
    const FieldRecord* f = m_tree.fields().data() + p.firstField;
    for (uint32_t i = 0; i < p.fieldCount; ++i, ++f) {
      if (std::strcmp(f->label, "No. of Columns") == 0)
        columns = static_cast<int16_t>(FieldUnsigned(*f));
      else if (std::strcmp(f->label, "Data Type") == 0)
        format->types.push_back(static_cast<uint8_t>(FieldUnsigned(*f)));
    }
    format->valid =
        !p.refused && columns >= 0 && format->types.size() == static_cast<size_t>(columns);
    format->steps.clear();
    uint32_t fixed = 1;  // the token type
    for (uint8_t type : format->types) {
      const int16_t width = LengthPrefixWidth(type);
      if (width == -1) {
        format->valid = false;
      } else if (width == 0) {
        fixed += static_cast<uint32_t>(FixedDataSize(type));
      } else {
        format->steps.push_back(RowFormat::Step{fixed, width});
        fixed = 0;
      }
    }
    format->steps.push_back(RowFormat::Step{fixed, 0});
  }
}

int32_t RequestView::ConnectionByteOrder(uint32_t conn) const {
  // The byte-order record the login filed, as the message entry reads it; 0 while there is none.
  SimBlockTag block{};
  const ConversationStore* store = CurrentStore();
  if (!store || !store->Find(kTdsInfoKind, conn, &block)) return 0;
  return block.data == 2 ? 2 : 1;
}

size_t RequestView::RowExtent(const RowFormat& format, const uint8_t* row, size_t available,
                              int32_t order) {
  size_t at = 0;
  for (const RowFormat::Step& step : format.steps) {
    at += step.fixed;
    if (step.width == 0) break;
    const size_t width = static_cast<size_t>(step.width);
    if (at + width > available) return 0;
    // The length as the decoder reads it: a signed 32-bit value at most.
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
      value = (value << 8) | row[at + (order == 2 ? width - 1 - i : i)];
    const int32_t n = static_cast<int32_t>(value);
    if (n < 0) return 0;
    at += width + static_cast<size_t>(n);
  }
  return at <= available ? at : 0;
}
