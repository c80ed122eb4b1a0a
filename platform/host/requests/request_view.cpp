#include "requests/request_view.h"

#include <algorithm>

#include "input/link_layer.h"
#include "tdsengine/field_value.h"
#include "tdswire/framing.h"
#include "tdswire/tokens.h"
#include "views/message_view.h"

namespace {

// A message longer than the window is walked in parts as it arrives (its whole tokens each
// time), so the log sees the completion of any answer while holding at most the ceiling.
constexpr size_t kHeldCeiling = MessageAssembler::kDefaultHeldCeiling;
// The log shows no parts, so its window is smaller than the message view's: the display tree
// of a window of the smallest tokens is what one worker holds at most for a message.
constexpr size_t kWindow = 16 * 1024;

}  // namespace

class RequestDirection::Walker : public MessageAssembler::Consumer {
 public:
  Walker(RequestView& view, uint32_t conn, bool clientToServer)
      : m_view(view), m_conn(conn), m_c2s(clientToServer) {}
  void Message(const AssembledMessage& message) override { m_view.Walk(m_conn, m_c2s, message); }
  size_t Part(const AssembledMessage& part) override { return m_view.Walk(m_conn, m_c2s, part); }

 private:
  RequestView& m_view;
  uint32_t m_conn;
  bool m_c2s;
};

RequestDirection::RequestDirection(AssemblerCounters& counters, uint32_t conn, bool clientToServer,
                                   bool midStream)
    : m_conn(conn),
      m_c2s(clientToServer),
      m_assembler(midStream, counters, kHeldCeiling, kWindow) {}

RequestView& RequestDirection::View() const {
  return RequestDirections::ViewOf(this, m_c2s ? 0 : 1);
}

void RequestDirection::Deliver(const StreamPiece& piece) {
  if (piece.length == 0) return;
  RequestView& view = View();
  view.CountFrame();
  Walker walker(view, m_conn, m_c2s);
  m_assembler.Feed(piece.data, piece.length, piece.frame, walker, view.now());
}

void RequestDirection::Gap(const StreamPiece& context) {
  RequestView& view = View();
  Walker walker(view, m_conn, m_c2s);
  m_assembler.Gap(context.frame, walker, view.now());
  view.Lost(m_conn, m_c2s);
}

void RequestDirection::End(uint64_t frame) {
  RequestView& view = View();
  Walker walker(view, m_conn, m_c2s);
  m_assembler.End(frame, walker, view.now());
}

RequestView::RequestView(TdsParseMessageFn walk, RequestOutput& out, HostStats& stats,
                         const int64_t& clock, const Options& options)
    : m_walk(walk), m_stats(stats), m_clock(clock), m_orders(options.byteOrder), m_tracker(out) {
  m_tracker.KeepRows(static_cast<size_t>(std::min<uint64_t>(options.rows, kMaxRowsKept)));
}

RequestView::~RequestView() {
  m_registry.EndAll();
}

DirectionSink* RequestView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  return m_tracker.DirectionsOf(conn).Open(clientToServer ? 0 : 1, *this, m_assembled, conn,
                                           midStream);
}

void RequestView::CloseDirection(DirectionSink* /*sink*/) {
  // The direction ends with the tracker's record of its connection.
}

void RequestView::ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) {
  char client[kEndpointText];
  char server[kEndpointText];
  PutEndpoint(client, ends.ipVersion, ends.client, ends.clientPort);
  PutEndpoint(server, ends.ipVersion, ends.server, ends.serverPort);
  m_tracker.ConnectionOpened(conn, client, server);
}

void RequestView::ConnectionEnded(uint32_t conn) {
  m_registry.End(conn);
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
  m_tracker.ConnectionEnded(conn);
}

void RequestView::EndAll() {
  m_registry.EndAll();
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
  m_tracker.ForgetFraming();
  // The packets of this input into the statistics, per message type.
  for (unsigned type = 0; type < 256; ++type) {
    m_stats.messageTypes[type] += m_assembled.packetsPerType[type];
    m_stats.tdsPackets += m_assembled.packetsPerType[type];
    m_assembled.packetsPerType[type] = 0;
  }
}

void RequestView::Finish() {
  m_tracker.Finish();
}

size_t RequestView::Walk(uint32_t conn, bool clientToServer, const AssembledMessage& message) {
  const bool tokens = IsTokenMessage(message.type);
  // The front of an unfinished message: only its whole tokens are walked (a token stream ends
  // a token where the next begins); the bytes after them wait for the next part.
  const bool partial = !message.lastPart;
  if (partial && !tokens) return 0;
  m_registry.Select(conn);
  // The byte order to walk in: the one forced, the login's, or for a connection whose login
  // was not captured the one under which its messages frame plausibly.
  Connection& c = m_tracker.FramingOf(conn);
  TdsMessageWalk prepared{};
  prepared.clientToServer = clientToServer ? 1 : 0;
  if (!m_orders.Prepare(c.guess, conn, clientToServer, message, m_walk, prepared)) return 0;
  m_forceOrder = prepared.forceOrder;
  m_guessOrder = prepared.guessOrder;
  WalkedMessage w;
  w.conn = conn;
  w.clientToServer = clientToServer;
  w.type = message.type;
  w.firstFrame = message.firstFrame ? message.firstFrame : message.lastFrame;
  w.lastFrame = message.lastFrame;
  w.firstUs = message.firstFrame ? message.firstUs : message.lastUs;
  w.lastUs = message.lastUs;
  w.bytes = static_cast<int32_t>(message.length);
  w.part = message.part;
  switch (message.cut) {
    case MessageCut::kNone:
      break;
    case MessageCut::kEnd:
      w.cut = WalkedMessage::Cut::kEnd;
      break;
    case MessageCut::kGap:
    case MessageCut::kCeiling:
    case MessageCut::kMemory:
      w.cut = WalkedMessage::Cut::kLost;
      break;
    case MessageCut::kLostStart:
    case MessageCut::kJoinedMidway:
      w.cut = WalkedMessage::Cut::kStart;
      break;
  }
  w.cutReason = MessageCutText(message.cut);

  // Rows are framed in the order the walk will take: the one forced, else the login's once a
  // walk has taken it, else the inferred one, else that of the connection's last walk.
  int32_t order = c.order;
  if (m_forceOrder != kWalkOrderNone)
    order = m_forceOrder;
  else if (c.source != kOrderFromLogin && m_guessOrder != kWalkOrderNone)
    order = m_guessOrder;
  if (clientToServer || !tokens || order == kWalkOrderNone) {
    // (A server message before any walk of the connection: the byte order is not known yet.)
    const size_t end = partial ? WholeTokens(message.data, message.length, order) : message.length;
    w.last = !partial;
    if (end > 0 || !partial) WalkPart(w, message, 0, end);
    return end;
  }
  // A server's answer is mostly rows. The walk of a row gives every value, which the log needs
  // only for the rows it shows, so the other runs of rows are only framed, by the row format
  // the server sent last (in the byte order of the walks), and the tokens around them are
  // walked in parts. Where a token does not frame, the walk takes the rest of the message.
  const uint8_t* data = message.data;
  const size_t length = message.length;
  const bool msbFirst = order == kWalkOrderBig;
  const size_t keep = m_tracker.rowsKept();
  size_t wanted = m_tracker.RowsWanted(conn);  // rows still to walk in the current result set
  size_t at = 0;
  size_t part = 0;  // the first byte not yet walked or counted
  while (at < length) {
    const int32_t available = static_cast<int32_t>(length - at);
    if (data[at] == kTokenRow) {
      if (!c.rowsValid) break;
      if (wanted > 0) {
        // A row the log shows: walked with the part it is in.
        const int32_t size = DataTokenExtent(*c.rows, false, data + at, available, msbFirst);
        if (size <= 0) break;
        at += static_cast<size_t>(size);
        --wanted;
        continue;
      }
      size_t end = at;
      uint64_t rows = 0;
      while (end < length && data[end] == kTokenRow) {
        const int32_t size = DataTokenExtent(*c.rows, false, data + end,
                                             static_cast<int32_t>(length - end), msbFirst);
        if (size <= 0) break;
        end += static_cast<size_t>(size);
        ++rows;
      }
      // The run counts only when it ends at the end of the message or at a token that frames;
      // otherwise the format does not fit these rows, and the walk shows what they are. At the
      // end of a part, the row that does not frame is the one the held bytes cut short.
      if (end < length &&
          (data[end] == kTokenRow || TokenLengthOf(data[end]) == TokenLength::kUnknown) &&
          !(partial && rows > 0 && data[end] == kTokenRow))
        break;
      if (part < at) {
        w.last = false;
        WalkPart(w, message, part, at);
      } else if (at == 0 && message.partOffset == 0) {
        CountFirstToken(kTokenRow, nullptr);  // a message that begins with rows not walked
      }
      m_tracker.Rows(w, rows);
      at = part = end;
      continue;
    }
    const TokenFrame frame = FrameToken(data + at, available, msbFirst);
    if (frame.cut || frame.size <= 0 || frame.length == TokenLength::kData ||
        frame.length == TokenLength::kUnknown)
      break;
    const uint8_t code = data[at];
    if (code == kTokenRowFmt || code == kTokenRowFmt2) {
      if (!c.rows) c.rows.reset(new WireFormat);
      c.rowsValid = ParseFormat(data + at, frame.size, msbFirst, *c.rows);
      wanted = keep;  // a new result set
    } else if ((code == kTokenDone || code == kTokenDoneProc) && frame.size >= 3) {
      const uint16_t status = static_cast<uint16_t>(msbFirst ? data[at + 1] << 8 | data[at + 2]
                                                             : data[at + 2] << 8 | data[at + 1]);
      if (!(status & kDoneMore)) wanted = keep;  // the answer to a later request may follow
    }
    at += static_cast<size_t>(frame.size);
  }
  // A part ends where framing stopped: the token there is walked with the next part.
  const size_t end = partial ? at : length;
  w.last = !partial;
  if (part < end || !partial) WalkPart(w, message, part, end);
  return end;
}

size_t RequestView::WholeTokens(const uint8_t* data, size_t length, int32_t order) {
  size_t at = 0;
  while (at < length) {
    const TokenFrame frame =
        FrameToken(data + at, static_cast<int32_t>(length - at), order == kWalkOrderBig);
    if (frame.cut || frame.size <= 0 || frame.length == TokenLength::kData ||
        frame.length == TokenLength::kUnknown)
      break;
    at += static_cast<size_t>(frame.size);
  }
  return at;
}

void RequestView::WalkPart(WalkedMessage& w, const AssembledMessage& message, size_t from,
                           size_t to) {
  Connection& c = m_tracker.FramingOf(w.conn);
  m_tree.BeginFrame(message.block, kEthernetHeader + message.length, message.data + from);
  CPDecode decode(&m_tree);
  decode.ConnectionId = w.conn;
  TdsMessageWalk walk{};
  walk.clientToServer = w.clientToServer ? 1 : 0;
  walk.forceOrder = m_forceOrder;
  walk.guessOrder = m_guessOrder;
  const int32_t length = static_cast<int32_t>(to - from);
  m_walk(message.block, &decode, message.data + from, length, message.type, message.channel, &walk);
  // A message's first token, for --stats (a login record is none).
  if (from == 0 && message.partOffset == 0 && !m_tree.packets().empty()) {
    const PacketRecord& first = m_tree.packets().front();
    if (first.token >= 0 && first.token <= 255) CountFirstToken(first.token, first.longName);
  }
  w.walkedToEnd = walk.restSize == 0;
  w.restReason = walk.restReason;
  w.order = walk.order;
  w.tree = &m_tree;
  if (walk.order != kWalkOrderNone) {
    c.order = static_cast<int8_t>(walk.order);
    c.source = static_cast<int8_t>(walk.orderSource);
  }
  if (!w.clientToServer) KeepRowFormat(c);
  m_tracker.Message(w);
}

void RequestView::CountFirstToken(int token, const char* text) {
  ++m_stats.firstTokens[token];
  if (text) m_stats.tokenText[token] = text;
}

void RequestView::KeepRowFormat(Connection& c) {
  const std::vector<PacketRecord>& records = m_tree.packets();
  for (auto p = records.rbegin(); p != records.rend(); ++p) {
    if (p->token != kTokenRowFmt && p->token != kTokenRowFmt2) continue;
    if (p->spanOffset < 0 || p->spanSize <= 0 || !m_tree.tdsBegin()) {
      c.rowsValid = false;
    } else {
      if (!c.rows) c.rows.reset(new WireFormat);
      c.rowsValid = ParseFormat(m_tree.tdsBegin() + p->spanOffset, p->spanSize,
                                c.order == kWalkOrderBig, *c.rows);
    }
    return;
  }
}
