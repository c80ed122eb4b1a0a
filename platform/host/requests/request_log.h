// The request tracker: client requests paired with the server's answers, per connection, from
// the token walk of whole TDS messages. A request is a client message; its answer is the
// server's tokens up to the completion token (DONE or DONEPROC) without the "more" bit, or, for
// an attention, the DONE that acknowledges it. Finished requests go to a RequestOutput in the
// order they were sent.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "requests/request_direction.h"
#include "requests/request_model.h"
#include "streams/byte_order_guess.h"
#include "streams/pointer_index.h"
#include "tdsengine/display_tree.h"
#include "tdswire/format.h"

// One TDS message of one direction and its walk: a record per token (the login record and the
// dump of a message that is not a token stream are records too).
struct WalkedMessage {
  uint32_t conn = 0;
  bool clientToServer = true;
  int32_t type = 0;  // message type of its first packet header
  uint64_t firstFrame = 0;
  uint64_t lastFrame = 0;
  int64_t firstUs = 0;  // capture times of those frames, microseconds since 1970 (UTC)
  int64_t lastUs = 0;
  int32_t bytes = 0;        // message data, headers removed
  bool walkedToEnd = true;  // false: the walk stopped before the end of the data
  const char* restReason = nullptr;
  // A message handed over incomplete: the stream ended inside it, bytes of it were lost (or
  // passed over), or it may lack its first packets.
  enum class Cut : uint8_t { kNone, kEnd, kLost, kStart };
  Cut cut = Cut::kNone;
  const char* cutReason = nullptr;
  // A server message may be walked in parts, with the row tokens between them counted apart:
  // the rules for the end of a message apply to its last part.
  bool last = true;
  // A message longer than the window arrives in parts: which part (from 1; 0 for a whole one).
  // A client message's later parts add to the request its first part began.
  uint32_t part = 0;
  // The byte order the message was walked in (kWalkOrderBig or kWalkOrderLittle; 0 unknown).
  int32_t order = 0;
  const DisplayTree* tree = nullptr;
};

// The most rows kept per result set for the log to show (--rows N is cut to it), and the most
// bytes of value texts one request keeps: past either, rows are only counted.
constexpr size_t kMaxRowsKept = 10000;
constexpr size_t kMaxKeptTextBytes = 16 * 1024 * 1024;

// The requests held back behind an earlier one still waiting for its answer, by default.
constexpr size_t kMaxRequestsWaiting = 65536;

class RequestTracker {
 public:
  // maxWaiting bounds the finished requests held back behind an earlier one still waiting
  // for its answer; past it, the earliest is written with what is known. Up to wholeWaiting
  // complete requests wait whole; past it, those an attention may still cancel are packed.
  explicit RequestTracker(RequestOutput& sink, size_t maxWaiting = kMaxRequestsWaiting,
                          size_t wholeWaiting = 256);
  ~RequestTracker();
  RequestTracker(const RequestTracker&) = delete;
  RequestTracker& operator=(const RequestTracker&) = delete;

  // The two ends of a connection ("address:port"), when the host knows them.
  void ConnectionOpened(uint32_t conn, std::string_view client, std::string_view server);
  void Message(const WalkedMessage& message);
  // Row tokens of a server message, counted without a walk, after its parts so far.
  void Rows(const WalkedMessage& message, uint64_t count);
  // Keeps the values of the first `rows` rows of each result set (at most kMaxRowsKept).
  void KeepRows(size_t rows);
  size_t rowsKept() const { return m_rowsKept; }
  // How many more rows of the connection's current result set are kept: the rows of a server
  // message to walk rather than count.
  size_t RowsWanted(uint32_t conn) const;
  // Bytes of one direction were lost before the next message.
  void Lost(uint32_t conn, bool clientToServer);
  // The connection is over: requests still waiting are unanswered.
  void ConnectionEnded(uint32_t conn);
  // Every connection ends and every request is written.
  void Finish();
  // The input waits for more bytes: complete requests held for an attention that may follow
  // are written (with every request before them that is complete).
  void InputWaits();

  size_t waiting() const { return m_queue.size(); }

  // What the view keeps of a connection to frame its server's rows without walking them,
  // held with the tracker's own state of the connection.
  struct Framing {
    int8_t order = 0;   // the byte order of its walks (kWalkOrderBig, kWalkOrderLittle; 0 none)
    int8_t source = 0;  // where that order came from (TdsOrderSource)
    bool rowsValid = false;
    ByteOrderGuess::Entry guess;       // how the connection's byte order is being inferred
    std::unique_ptr<WireFormat> rows;  // the row format its server sent last, once there is one
  };
  Framing& FramingOf(uint32_t conn) { return ConnectionOf(conn).framing; }
  // Where the view keeps the connection's two direction sinks: with the tracker's own state of
  // it, ended with the connection.
  RequestDirections& DirectionsOf(uint32_t conn) { return ConnectionOf(conn).directions; }
  // Every connection's framing forgotten (the end of an input).
  void ForgetFraming();

  // A complete request waiting its turn to be written, in one block of bytes; defined in
  // request_log.cpp.
  struct Packed;
  struct PackedDeleter {
    void operator()(Packed* p) const;
  };
  using PackedPtr = std::unique_ptr<Packed, PackedDeleter>;

  // Told of every request as it joins the queue of requests in the order sent, for merging
  // the logs of several workers (which must place each request as one tracker would).
  class QueueHook {
   public:
    virtual ~QueueHook() = default;
    virtual void Queued(const Request& request) = 0;
  };
  void SetQueueHook(QueueHook* hook) { m_hook = hook; }

 private:
  // A request in the queue: whole while its answer may still add to it, packed once it is
  // complete and has to wait behind another (an idle connection's last request waits so, for
  // an attention that may never come).
  struct Queued {
    std::unique_ptr<Request> whole;
    PackedPtr packed;
    uint64_t firstFrame() const;
  };

  // What a connection's answers refer back to: its latest row format, its cursors and its
  // dynamic statements. Held apart, from the first of them: a connection that only logs in
  // needs none.
  struct Statements {
    std::shared_ptr<const ResultColumns> lastColumns;  // the latest row format
    std::unordered_map<uint32_t, std::string> cursorNames;
    // The cursor the request being answered names (by name, without an id): the server's
    // CURINFO tells its id.
    std::string namedCursor;
    // Parameter names of dynamic statements, from the server's input descriptions, and the
    // columns of their rows, from its output descriptions; oldest first.
    std::vector<std::pair<std::string, std::shared_ptr<const std::vector<std::string>>>> statements;
    std::vector<std::pair<std::string, std::shared_ptr<const ResultColumns>>> outputs;
    std::string describing;         // the statement whose description the server is sending
    bool describingOutput = false;  // the server is describing a statement's rows
  };
  // Requests whose answer has not ended, in the order sent. Most connections have none or one:
  // one is kept in place, more in a block of their own (at most as many as wait in the queue).
  class OpenRequests {
   public:
    OpenRequests() = default;
    ~OpenRequests() {
      if (m_capacity > 1) delete[] m_many;
    }
    OpenRequests(const OpenRequests&) = delete;
    OpenRequests& operator=(const OpenRequests&) = delete;

    Request** begin() { return data(); }
    Request** end() { return data() + m_size; }
    bool empty() const { return m_size == 0; }
    Request* front() const { return m_capacity > 1 ? m_many[0] : m_one; }
    void push_back(Request* r) { Insert(m_size, r); }
    void push_front(Request* r) { Insert(0, r); }
    void erase(Request** at) {
      std::copy(at + 1, end(), at);
      --m_size;
    }
    void clear() { m_size = 0; }

   private:
    Request** data() { return m_capacity > 1 ? m_many : &m_one; }
    void Insert(uint32_t at, Request* r) {
      if (m_size == m_capacity) {
        Request** many = new Request*[m_capacity * 2];
        std::copy(begin(), end(), many);
        if (m_capacity > 1) delete[] m_many;
        m_many = many;
        m_capacity *= 2;
      }
      Request** d = data();
      std::copy_backward(d + at, d + m_size, d + m_size + 1);
      d[at] = r;
      ++m_size;
    }

    union {
      Request* m_one = nullptr;  // capacity 1
      Request** m_many;          // capacity above 1
    };
    uint32_t m_size = 0;
    uint32_t m_capacity = 1;
  };

  // A connection, one allocation with the view's direction sinks.
  struct Connection {
    explicit Connection(uint32_t number) : conn(number) {}
    uint32_t conn;
    bool completionLast = false;  // the server's last token was DONE, DONEPROC or DONEINPROC
    // The server's message so far ends the answer: its latest DONE or DONEPROC said no more
    // follows (with that status).
    bool answerEnds = false;
    uint16_t endStatus = 0;
    uint64_t rowsSinceDone = 0;  // ROW tokens of the answer since its latest completion token
    std::shared_ptr<ConnectionInfo> info;
    OpenRequests open;  // requests whose answer has not ended, in the order sent
    // The latest request that is not an attention: whole, or packed (at most one is set).
    Request* last = nullptr;
    Packed* lastPacked = nullptr;
    std::unique_ptr<Statements> statements;  // null until the first is needed
    Framing framing;
    RequestDirections directions;
  };
  struct ConnectionTraits {
    static size_t Hash(const uint32_t& conn) { return conn * 0x9E3779B1u; }
    static const uint32_t& KeyOf(const Connection& c) { return c.conn; }
    static bool Same(uint32_t x, uint32_t y) { return x == y; }
  };
  static Statements& StatementsOf(Connection& c);
  Connection& ConnectionOf(uint32_t conn);
  void ClientMessage(Connection& c, const WalkedMessage& m);
  void ServerMessage(Connection& c, const WalkedMessage& m);
  Request* NewRequest(Connection& c, const WalkedMessage& m);
  Request* Orphan(Connection& c, const WalkedMessage& m);
  void Complete(Connection& c, Request* r, const WalkedMessage& m);
  void AddRows(Connection& c, Request& r, uint64_t count);
  void KeepRow(Request& r, const DisplayTree& tree, const PacketRecord& p);
  void Queue(std::unique_ptr<Request> r);
  void EndConnection(Connection& c);
  // The latest request of the connection no longer waits for an attention (cancelled: one
  // came, and cancels it).
  // connectionEnds: no later login can change what the connection shows.
  void ReleaseLast(Connection& c, bool cancelled, bool connectionEnds = false);
  // A complete request that cannot be written yet is packed, and its memory kept for reuse.
  void PackWaiting(Connection& c, Request* r);
  // The connection's latest request whole again, for a later part of its message.
  Request* UnpackLast(Connection& c);
  std::deque<Queued>::iterator Find(uint64_t firstFrame, const void* identity);
  std::unique_ptr<Request> SpareRequest();
  void Detach(uint32_t conn, const void* identity);
  void Flush();

  RequestOutput& m_sink;
  QueueHook* m_hook = nullptr;
  size_t m_maxWaiting;
  size_t m_wholeWaiting;
  size_t m_rowsKept = 0;
  PointerIndex<Connection, uint32_t, ConnectionTraits> m_connections;
  std::vector<std::unique_ptr<Request>> m_spare;  // written, kept for their memory
  std::deque<Queued> m_queue;                     // in the order sent, until written
  size_t m_packed = 0;                            // of them packed
};
