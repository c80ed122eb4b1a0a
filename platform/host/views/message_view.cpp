#include "views/message_view.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "tdswire/framing.h"
#include "views/message_render.h"

namespace {

// The front of an unfinished message is shown with at most this many tokens: its display tree
// costs about 200 bytes a token, and a window of the smallest tokens (2 bytes) would otherwise
// cost 7 MB. Real token streams average far more than 8 bytes a token, and rows (framed only by
// their format) end the count, so only streams of tiny tokens are shown in more parts.
constexpr size_t kPartTokens = 8192;

// How much of a part to walk: up to the end of its first kPartTokens + 1 tokens when they all
// frame before its end (the last of them is walked again with the next part, as the token the
// held bytes may cut short always is), else all of it.
size_t PartWalkLength(const uint8_t* data, size_t length, bool msbFirst) {
  size_t at = 0;
  for (size_t n = 0; n <= kPartTokens; ++n) {
    if (at >= length) return length;
    const TokenFrame f = FrameToken(data + at, static_cast<int32_t>(length - at), msbFirst);
    if (f.cut || f.size <= 0 || f.length == TokenLength::kData || f.length == TokenLength::kUnknown)
      return length;
    at += static_cast<size_t>(f.size);
  }
  return at;
}

// One direction of a connection in the message view.
class MessageSink : public DirectionSink, private MessageAssembler::Consumer {
 public:
  MessageSink(MessageView& view, MessageView::Connection& connection, AssemblerCounters& counters,
              uint32_t conn, bool clientToServer, bool midStream)
      : m_view(view),
        m_connection(connection),
        m_conn(conn),
        m_c2s(clientToServer),
        m_assembler(midStream, counters) {}

  void Deliver(const StreamPiece& piece) override {
    if (piece.length > 0) m_view.CountFrame();
    m_assembler.Feed(piece.data, piece.length, piece.frame, *this, m_view.now());
  }
  void Gap(const StreamPiece& context) override {
    m_assembler.Gap(context.frame, *this, m_view.now());
  }
  void End(uint64_t frame) override { m_assembler.End(frame, *this, m_view.now()); }
  void CutForMemory() override { m_assembler.CutForMemory(); }
  size_t HeldBytes() const override { return m_assembler.heldCapacity(); }

 private:
  void Message(const AssembledMessage& message) override {
    m_view.Decode(m_connection, m_conn, m_c2s, message, m_number);
  }
  size_t Part(const AssembledMessage& part) override {
    return m_view.Decode(m_connection, m_conn, m_c2s, part, m_number);
  }

  MessageView& m_view;
  MessageView::Connection& m_connection;
  uint32_t m_conn;
  bool m_c2s;
  MessageAssembler m_assembler;
  uint64_t m_number = 0;  // the number of the message being shown in parts
};

}  // namespace

// A connection: what its records show, and its directions once opened.
struct MessageView::State {
  uint32_t conn;
  Connection shown;
  alignas(MessageSink) unsigned char dirs[2][sizeof(MessageSink)];
  bool open[2] = {false, false};

  explicit State(uint32_t number) : conn(number) {}
  ~State() {
    for (int dir = 0; dir < 2; ++dir)
      if (open[dir]) Dir(dir)->~MessageSink();
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  MessageSink* Dir(int dir) { return std::launder(reinterpret_cast<MessageSink*>(dirs[dir])); }
};

const uint32_t& MessageView::StateTraits::KeyOf(const State& s) {
  return s.conn;
}

MessageView::State* MessageView::MakeState(uint32_t conn, size_t texts) {
  void* at = ::operator new(sizeof(State) + texts);
  return new (at) State(conn);
}

void MessageView::FreeState(State* s) {
  s->~State();
  ::operator delete(s);
}

MessageView::State& MessageView::StateOf(uint32_t conn) {
  State* s = m_connections.Find(conn);
  if (!s) {
    s = MakeState(conn, 0);
    m_connections.Insert(s);
  }
  return *s;
}

bool IsTokenMessage(uint8_t type) {
  return type == 4 || type == 15 || type == 16;
}

void PutEndpoint(char* text, uint8_t ipVersion, const uint8_t* address, uint16_t port) {
  char ip[INET6_ADDRSTRLEN] = {};
  const bool v6 = ipVersion == 6;
  if (!address || !inet_ntop(v6 ? AF_INET6 : AF_INET, address, ip, sizeof(ip))) ip[0] = '\0';
  std::snprintf(text, kEndpointText, v6 ? "[%s]:%u" : "%s:%u", ip, static_cast<unsigned>(port));
}

MessageView::MessageView(TdsParseMessageFn parse, const Options& options, OutBuffer& out,
                         HostStats& stats, const int64_t& clock)
    : m_parse(parse),
      m_options(options),
      m_out(out),
      m_stats(stats),
      m_orders(options.byteOrder),
      m_clock(clock) {
  m_stats.messageView.used = true;
}

MessageView::~MessageView() {
  m_registry.EndAll();
  m_connections.ForEach([](State* s) { FreeState(s); });
}

void MessageView::ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) {
  char client[kEndpointText];
  char server[kEndpointText];
  PutEndpoint(client, ends.ipVersion, ends.client, ends.clientPort);
  PutEndpoint(server, ends.ipVersion, ends.server, ends.serverPort);
  const size_t clientSize = std::strlen(client) + 1;
  const size_t serverSize = std::strlen(server) + 1;
  State* s = m_connections.Find(conn);
  if (s && !s->open[0] && !s->open[1]) {
    m_connections.Erase(s);
    FreeState(s);
    s = nullptr;
  }
  if (!s) {
    // The texts live just after the state, in the same allocation.
    s = MakeState(conn, clientSize + serverSize);
    char* texts = reinterpret_cast<char*>(s + 1);
    std::memcpy(texts, client, clientSize);
    std::memcpy(texts + clientSize, server, serverSize);
    s->shown.client = texts;
    s->shown.server = texts + clientSize;
    m_connections.Insert(s);
  }
  s->shown.shownOrder = kOrderNotShown;
}

DirectionSink* MessageView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  State& s = StateOf(conn);
  const int dir = clientToServer ? 0 : 1;
  if (s.open[dir]) s.Dir(dir)->~MessageSink();
  s.open[dir] = true;
  return new (s.dirs[dir])
      MessageSink(*this, s.shown, m_assembled[dir], conn, clientToServer, midStream);
}

void MessageView::CloseDirection(DirectionSink* /*sink*/) {
  // The direction ends with its connection's state.
}

void MessageView::ConnectionEnded(uint32_t conn) {
  m_orders.Forget(conn);
  if (State* s = m_connections.Find(conn)) {
    m_connections.Erase(s);
    FreeState(s);
  }
  m_registry.End(conn);
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
}

void MessageView::EndAll() {
  m_orders.ForgetAll();
  m_connections.ForEach([](State* s) { FreeState(s); });
  m_connections.Clear();
  m_registry.EndAll();
  m_stats.formatRecordsRefused = m_registry.droppedBlocks();
  m_messages = 0;
  // The packets of this input into the statistics.
  MessageStats& s = m_stats.messageView;
  for (int dir = 0; dir < 2; ++dir) {
    AssemblerCounters& c = m_assembled[dir];
    for (unsigned type = 0; type < 256; ++type) s.packets[dir][type] += c.packetsPerType[type];
    s.bytesPassedOver += c.bytesPassedOver;
    c = AssemblerCounters();
  }
}

size_t MessageView::Decode(Connection& connection, uint32_t conn, bool clientToServer,
                           const AssembledMessage& message, uint64_t& number) {
  // Only token streams are shown in parts: a token ends where the next begins.
  if (!message.lastPart && !IsTokenMessage(message.type)) return 0;
  m_registry.Select(conn);
  TdsMessageWalk walk{};
  walk.clientToServer = clientToServer ? 1 : 0;
  if (m_options.showPasswords) walk.flags |= kWalkShowPasswords;
  if (!m_orders.Prepare(conn, clientToServer, message, m_parse, walk)) return 0;
  size_t walked = message.length;
  if (!message.lastPart) {
    // Framed in the order the walk will take: the one forced, the inferred one, else that of
    // the connection's last walk.
    int32_t order = connection.shownOrder;
    if (walk.forceOrder != kWalkOrderNone)
      order = walk.forceOrder;
    else if (walk.guessOrder != kWalkOrderNone)
      order = walk.guessOrder;
    walked = PartWalkLength(message.data, message.length, order == kWalkOrderBig);
  }
  m_tree.BeginFrame(message.block, kEthernetHeader + walked, message.data);
  CPDecode decode(&m_tree);
  decode.ConnectionId = conn;
  m_parse(message.block, &decode, message.data, static_cast<int32_t>(walked), message.type,
          message.channel, &walk);

  MessageMeta meta;
  size_t taken = message.length;
  if (!message.lastPart) {
    // The front of an unfinished message: its tokens but the last, which the held bytes may
    // cut short (it is walked again with the next part), or up to where the walk ended.
    const std::vector<PacketRecord>& records = m_tree.packets();
    taken = records.empty() ? 0 : static_cast<size_t>(std::max(records.back().spanOffset, 0));
    if (walk.restSize > 0 && static_cast<size_t>(walk.restOffset) > taken)
      taken = static_cast<size_t>(walk.restOffset);
    if (taken == 0) return 0;
    meta.records = 0;
    while (meta.records < records.size() &&
           static_cast<size_t>(records[meta.records].spanOffset) < taken)
      ++meta.records;
    walk.restSize = 0;  // what is left is walked with the next part
  }
  if (message.part <= 1) number = ++m_messages;
  meta.message = number;
  meta.lastFrame = message.lastFrame;
  meta.firstFrame = message.firstFrame;
  meta.firstUs = message.firstUs;
  meta.lastUs = message.lastUs;
  meta.file = m_input.empty() ? nullptr : m_input.c_str();
  meta.client = connection.client;
  meta.server = connection.server;
  meta.showOrder = walk.order != connection.shownOrder;
  connection.shownOrder = walk.order;
  meta.conn = conn;
  meta.clientToServer = clientToServer;
  meta.type = message.type;
  meta.packets = message.packets;
  meta.bytes = taken;
  meta.cut = message.cut;
  meta.walk = walk;
  meta.part = message.part;
  meta.partOffset = message.partOffset;
  meta.lastPart = message.lastPart;
  if (m_hook) {
    meta.numberLater = true;
    m_hook->Begin(conn, clientToServer, message.part <= 1, message.lastPart);
  }
  if (m_options.format == OutputFormat::kJson)
    RenderMessageJson(m_tree, meta, m_out);
  else
    RenderMessageText(m_tree, meta, m_out);
  if (m_hook) m_hook->End();
  Count(clientToServer, message, walk, meta.records);
  return taken;
}

void MessageView::Count(bool clientToServer, const AssembledMessage& message,
                        const TdsMessageWalk& walk, size_t records) {
  MessageStats& s = m_stats.messageView;
  const int dir = clientToServer ? 0 : 1;
  if (message.lastPart) {
    ++s.messages[dir][message.type];
    if (message.part > 0) ++s.messagesInParts;
  }
  if (message.cut != MessageCut::kNone && message.lastPart) ++s.messagesCutShort;
  if (walk.restSize > 0) ++s.messagesEndedEarly;
  const std::vector<PacketRecord>& all = m_tree.packets();
  bool first = message.part == 0;
  for (size_t i = 0; i < std::min(records, all.size()); ++i) {
    const PacketRecord& p = all[i];
    if (p.refused) ++s.tokensRefused;
    if (p.token < 0 || p.token > 255) {
      ++s.records[dir];
      first = false;  // a login record's message has no first token
      continue;
    }
    if (first) ++s.firstTokens[p.token];
    first = false;
    ++s.tokens[dir][p.token];
    s.tokenName[p.token] = p.shortName;
    s.tokenText[p.token] = p.longName;
  }
}
