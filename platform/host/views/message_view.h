// The message view: each direction's TDS packets assembled into whole messages, each message
// walked token by token by the plug-in's message entry, one record per message.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"
#include "stats.h"
#include "streams/byte_order_guess.h"
#include "streams/message_assembler.h"
#include "streams/pointer_index.h"
#include "streams/stream_piece.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/store.h"

// A capture time that never moves, for a view whose records need no times.
inline constexpr int64_t kNoClock = 0;

// Room for an endpoint's text: "[", an IPv6 address of at most 45 characters, "]:65535", zero.
constexpr size_t kEndpointText = 56;

class MessageView : public View {
 public:
  // clock: the capture time of the frame being read (microseconds since 1970), kept current
  // by the caller.
  MessageView(TdsParseMessageFn parse, const Options& options, OutBuffer& out, HostStats& stats,
              const int64_t& clock = kNoClock);
  ~MessageView() override;

  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override;
  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;
  // The end of an input: every conversation store released, messages numbered from 1 again.
  void EndAll();
  // The input about to be read, named in each record; empty: none named (a single input).
  void SetInput(const std::string& name) { m_input = name; }

  // Told when a record begins and when it ends, for merging the records of several workers:
  // the record then goes out without its number (the merge numbers it).
  class RecordHook {
   public:
    virtual ~RecordHook() = default;
    // newNumber: the record starts a message; lastPart: no later part of it follows.
    virtual void Begin(uint32_t conn, bool clientToServer, bool newNumber, bool lastPart) = 0;
    virtual void End() = 0;
  };
  void SetRecordHook(RecordHook* hook) { m_hook = hook; }

  // What the records of a connection show of it.
  static constexpr int32_t kOrderNotShown = -1;
  struct Connection {
    // "192.0.2.1:40001", "[2001:db8::1]:5000": kept just after the connection's state, as long
    // as they are.
    const char* client = "";
    const char* server = "";
    // The byte order the last record that showed one showed (kWalkOrderNone: undecided).
    int32_t shownOrder = kOrderNotShown;
  };
  // Shows a message, or the front of an unfinished one (message.lastPart false): then only its
  // whole tokens, and returns how many bytes they take (0: none whole yet). number: the
  // message's number, given at its first part.
  size_t Decode(Connection& connection, uint32_t conn, bool clientToServer,
                const AssembledMessage& message, uint64_t& number);
  int64_t now() const { return m_clock; }
  // A frame whose TDS bytes went to the decoder (counted as in the packet view).
  void CountFrame() { ++m_stats.framesDecoded; }

 private:
  void Count(bool clientToServer, const AssembledMessage& message, const TdsMessageWalk& walk,
             size_t records);

  TdsParseMessageFn m_parse;
  const Options& m_options;
  OutBuffer& m_out;
  HostStats& m_stats;
  StoreRegistry m_registry;
  DisplayTree m_tree;
  ByteOrderGuess m_orders;
  const int64_t& m_clock;
  std::string m_input;
  RecordHook* m_hook = nullptr;
  // The live connections: each one allocation with its two directions.
  struct State;
  struct StateTraits {
    static size_t Hash(const uint32_t& conn) { return conn * 0x9E3779B1u; }
    static const uint32_t& KeyOf(const State& s);
    static bool Same(uint32_t x, uint32_t y) { return x == y; }
  };
  State& StateOf(uint32_t conn);
  // A new state with room for `texts` bytes of endpoint text after it.
  static State* MakeState(uint32_t conn, size_t texts);
  static void FreeState(State* s);
  PointerIndex<State, uint32_t, StateTraits> m_connections;
  AssemblerCounters m_assembled[2];  // what the directions' assemblers count, by direction
  uint64_t m_messages = 0;
};

// Message types whose data is a stream of tokens (normal, request and response messages).
bool IsTokenMessage(uint8_t type);

// "192.0.2.1:40001", "[2001:db8::1]:5000" into `text` (kEndpointText bytes), ended by a zero
// byte.
void PutEndpoint(char* text, uint8_t ipVersion, const uint8_t* address, uint16_t port);
