#include "streams/byte_order_guess.h"

#include "input/link_layer.h"
#include "tdswire/framing.h"

namespace {

// A trial tree that grew past this many fields is let go after the trial.
constexpr size_t kKeepTreeFields = 4096;

int32_t ForcedOrder(ByteOrderChoice choice) {
  switch (choice) {
    case ByteOrderChoice::kBig:
      return kWalkOrderBig;
    case ByteOrderChoice::kLittle:
      return kWalkOrderLittle;
    case ByteOrderChoice::kAuto:
      break;
  }
  return kWalkOrderNone;
}

bool IsTokenMessage(uint8_t type) {
  return type == 4 || type == 15 || type == 16;
}

constexpr uint8_t kLoginMessage = 2;

// Where the whole tokens at the front of a message end, framed in one order (data tokens, which
// need a format, and codes without a length rule end the count).
size_t WholeTokens(const AssembledMessage& message, bool msbFirst) {
  size_t at = 0;
  while (at < message.length) {
    const TokenFrame f =
        FrameToken(message.data + at, static_cast<int32_t>(message.length - at), msbFirst);
    if (f.cut || f.size <= 0 || f.length == TokenLength::kData || f.length == TokenLength::kUnknown)
      break;
    at += static_cast<size_t>(f.size);
  }
  return at;
}

// Negative when a is the better trial, positive when b is, 0 when neither is.
int Compare(const ByteOrderGuess::Trial& a, const ByteOrderGuess::Trial& b) {
  if (a.implausible != b.implausible) return a.implausible < b.implausible ? -1 : 1;
  if ((a.restSize == 0) != (b.restSize == 0)) return a.restSize == 0 ? -1 : 1;
  if (a.restOffset != b.restOffset) return a.restOffset > b.restOffset ? -1 : 1;
  if (a.refused != b.refused) return a.refused ? 1 : -1;
  return 0;
}

}  // namespace

ByteOrderGuess::ByteOrderGuess(ByteOrderChoice choice) : m_force(ForcedOrder(choice)) {}

ByteOrderGuess::~ByteOrderGuess() = default;

int32_t ByteOrderGuess::Inferred(uint32_t conn) const {
  const auto it = m_connections.find(conn);
  return it == m_connections.end() ? kWalkOrderNone : it->second.order;
}

int32_t ByteOrderGuess::Decide(const Trial& big, const Trial& little, bool cut) {
  const bool bigFits = big.Qualifies();
  const bool littleFits = little.Qualifies();
  if (bigFits != littleFits) return bigFits ? kWalkOrderBig : kWalkOrderLittle;
  if (bigFits || cut) return kWalkOrderNone;  // both fit, or bytes are missing from either end
  const int better = Compare(big, little);
  if (better == 0) return kWalkOrderNone;
  return better < 0 ? kWalkOrderBig : kWalkOrderLittle;
}

ByteOrderGuess::Trial ByteOrderGuess::Probe(uint32_t conn, bool clientToServer,
                                            const AssembledMessage& message, int32_t order,
                                            TdsParseMessageFn parse) {
  if (!m_tree) m_tree.reset(new DisplayTree());
  DisplayTree& tree = *m_tree;
  tree.BeginFrame(message.block, kEthernetHeader + message.length, message.data);
  CPDecode decode(&tree);
  decode.ConnectionId = conn;
  TdsMessageWalk walk{};
  walk.clientToServer = clientToServer ? 1 : 0;
  walk.forceOrder = order;
  walk.flags = kWalkProbe;
  parse(message.block, &decode, message.data, static_cast<int32_t>(message.length), message.type,
        message.channel, &walk);
  Trial t;
  t.implausible = walk.implausible;
  t.refused = tree.anyRefused();
  t.restSize = walk.restSize;
  t.restOffset = walk.restOffset;
  if (tree.fields().capacity() > kKeepTreeFields) m_tree.reset();
  return t;
}

bool ByteOrderGuess::Prepare(uint32_t conn, bool clientToServer, const AssembledMessage& message,
                             TdsParseMessageFn parse, TdsMessageWalk& walk) {
  if (m_force != kWalkOrderNone) {
    walk.forceOrder = m_force;
    walk.guessOrder = kWalkOrderNone;
    return true;
  }
  return Prepare(m_connections[conn], conn, clientToServer, message, parse, walk);
}

bool ByteOrderGuess::Prepare(Entry& e, uint32_t conn, bool clientToServer,
                             const AssembledMessage& message, TdsParseMessageFn parse,
                             TdsMessageWalk& walk) {
  walk.forceOrder = m_force;
  walk.guessOrder = kWalkOrderNone;
  if (m_force != kWalkOrderNone) return true;
  if (e.login) return true;
  if (clientToServer && message.type == kLoginMessage && message.cut == MessageCut::kNone) {
    e.login = true;  // the plug-in takes the order from the login record
    e.order = kWalkOrderNone;
    return true;
  }
  if (e.order == kWalkOrderNone && IsTokenMessage(message.type) && message.length > 0) {
    // The front of a message none of which was walked yet, whose tokens the two orders frame
    // differently: held until it is whole, so that both walks can reach its end.
    const bool front = !message.lastPart;
    if (front && message.part <= 1 && message.length < kHoldToDecide &&
        WholeTokens(message, true) != WholeTokens(message, false))
      return false;
    ++m_probes;
    const Trial big = Probe(conn, clientToServer, message, kWalkOrderBig, parse);
    const Trial little = Probe(conn, clientToServer, message, kWalkOrderLittle, parse);
    e.order = static_cast<int8_t>(Decide(big, little, front || message.cut != MessageCut::kNone));
  }
  walk.guessOrder = e.order;
  return true;
}
