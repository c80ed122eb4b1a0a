// The byte order each connection's messages are walked in, for the views that walk whole
// messages (the message view, the request log). A connection whose login was captured takes
// the login's order (the plug-in reads it); --byte-order forces one. For a connection whose
// login was not captured (a capture begun mid-conversation) the order is inferred: the first
// token message that frames plausibly in exactly one order (or clearly better in one) decides
// it for both directions, from then on. Until then the order is undecided: the plug-in frames
// the messages least significant byte first and shows what is read in the order as raw bytes.
// To be walked both ways to its end, a message of an undecided connection whose front the two
// orders frame differently is held whole up to kHoldToDecide bytes; otherwise it is walked in
// parts, each probed as cut short.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "options.h"
#include "streams/message_assembler.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"

class ByteOrderGuess {
 public:
  explicit ByteOrderGuess(ByteOrderChoice choice);
  ~ByteOrderGuess();
  ByteOrderGuess(const ByteOrderGuess&) = delete;
  ByteOrderGuess& operator=(const ByteOrderGuess&) = delete;

  static constexpr size_t kHoldToDecide = 256 * 1024;

  // Before the message is walked: sets walk.forceOrder and walk.guessOrder (clientToServer and
  // flags are the caller's). While a connection without a login is undecided, walks a token
  // message once in each order (kWalkProbe: the connection's state is neither read nor kept).
  // The caller selects the connection's conversation store first, as for the walk itself.
  // Returns false for the front of an unfinished message that is to be held until it is whole
  // (nothing of it is walked yet).
  bool Prepare(uint32_t conn, bool clientToServer, const AssembledMessage& message,
               TdsParseMessageFn parse, TdsMessageWalk& walk);

  // What is kept of a connection. A view that keeps it with its own state of the connection
  // passes it in (and forgets it with the connection); the calls by number keep it here.
  struct Entry {
    bool login = false;  // a login message from the client was seen
    int8_t order = 0;    // inferred order: kWalkOrderNone, Big or Little
  };
  bool Prepare(Entry& e, uint32_t conn, bool clientToServer, const AssembledMessage& message,
               TdsParseMessageFn parse, TdsMessageWalk& walk);
  // The connection has ended.
  void Forget(uint32_t conn) { m_connections.erase(conn); }
  // The end of an input: connection numbers start again.
  void ForgetAll() { m_connections.clear(); }

  // The order inferred for a connection: kWalkOrderBig, kWalkOrderLittle, or kWalkOrderNone
  // (a login was seen, or nothing has decided it yet).
  int32_t Inferred(uint32_t conn) const;
  // Probe pairs walked so far (each walks one message twice).
  uint64_t probes() const { return m_probes; }

  // How one trial walk went, and which of two is the better.
  struct Trial {
    int32_t implausible = 0;
    bool refused = false;
    int32_t restSize = 0;
    int32_t restOffset = 0;
    bool Qualifies() const { return implausible == 0 && !refused && restSize == 0; }
  };
  // kWalkOrderBig or kWalkOrderLittle when that trial decides the order, else kWalkOrderNone.
  // A message that may lack its first bytes (cutStart) decides only by a trial that qualifies.
  static int32_t Decide(const Trial& big, const Trial& little, bool cutStart);

 private:
  Trial Probe(uint32_t conn, bool clientToServer, const AssembledMessage& message, int32_t order,
              TdsParseMessageFn parse);

  int32_t m_force;
  std::unordered_map<uint32_t, Entry> m_connections;
  // The trial walks' display tree; dropped after a large message so its memory is not kept.
  std::unique_ptr<DisplayTree> m_tree;
  uint64_t m_probes = 0;
};
