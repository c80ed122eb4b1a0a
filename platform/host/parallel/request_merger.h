// The request log's merge: writes the requests of all workers in the order one request tracker
// would have, adding what only the whole log knows.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "parallel/merge_loop.h"
#include "requests/request_log.h"
#include "requests/request_outputs.h"
#include "requests/request_render.h"
#include "tdsengine/out_buffer.h"

// Counts by connection number. A count that drops to 0 keeps its entry, so that the request
// merge, which changes a count for each request it holds back, does not allocate a node each
// time; entries at 0 are let go once they are more than kSpare and half of the whole (at most
// twice as many entries as connections with requests held back, and kSpare, are kept).
class ConnectionCounts {
 public:
  bool Has(uint32_t conn) const {
    auto found = m_counts.find(conn);
    return found != m_counts.end() && found->second > 0;
  }
  void Add(uint32_t conn) {
    uint32_t& count = m_counts[conn];
    if (count++ == 0) ++m_live;
  }
  // The number must have a count.
  void Remove(uint32_t conn) {
    if (--m_counts[conn] > 0) return;
    --m_live;
    const size_t idle = m_counts.size() - m_live;
    if (idle <= kSpare || idle <= m_live) return;
    for (auto it = m_counts.begin(); it != m_counts.end();)
      it = it->second == 0 ? m_counts.erase(it) : std::next(it);
  }

 private:
  static constexpr size_t kSpare = 4096;
  std::unordered_map<uint32_t, uint32_t> m_counts;
  size_t m_live = 0;  // entries above 0
};

// Writes the requests of all workers in the order one request tracker would have: a tracker
// writes the earliest request of its queue (requests in the order of their first frame) once
// that one is finished. The merger keeps that queue for the whole log, and each worker's: a
// worker writes a request when it is the earliest of its own queue, never later than the whole
// log's tracker could; the merger writes it once it is the earliest of the whole queue. What a
// worker cannot know (the number, the fingerprint of a dynamic request, the header, date lines
// and summary of text) the merger adds, through the run's own writer.
//
// Where one tracker would have written differently from the workers' (a request forced out of
// a queue past its ceiling; a login read after records of its connection were written), the
// merger stops before it: the input is then decoded again on one worker, passing over the
// records already written.
class RequestMerger : public MergeLoop {
 public:
  RequestMerger(SharedRun& run, const std::vector<pid_t>& pids, RequestOutputs& outputs,
                OutBuffer& out, std::shared_ptr<const ConnectionInfo> identity)
      : MergeLoop(run, pids),
        m_jsonLog(outputs.jsonLog()),
        m_textLog(outputs.textLog()),
        m_out(out),
        m_local(run.workers),
        m_inPlace(run.workers) {
    m_fake.kind = RequestKind::kDynamic;
    m_fake.connection = std::move(identity);
  }
  ~RequestMerger() override {
    for (Node* n : m_queue) delete n;
    for (Node* n : m_written) delete n;
  }

  // After Run: requests the workers left behind are the tracker's to finish, not the merge's.
  // After a stop (SIGINT, SIGTERM) the records written are all written, in the order they have.
  void Finish();
  bool diverged() const { return m_diverged; }
  // Records written.
  uint64_t shown() const { return m_shown; }

 private:
  // A record kept until the requests before it are written: copied into `bytes`, or, when it
  // came whole, left in its worker's channel (`inPlace`: [start, start + end) of the worker's
  // stream) until it is written or the worker needs the room.
  struct Kept {
    size_t cut = 0;
    size_t split = 0;
    std::string bytes;
    uint64_t start = 0;
    size_t end = 0;
    unsigned worker = 0;
    bool inPlace = false;
  };
  // A request in the order sent. Most wait with nothing kept (a request not yet answered), and
  // a queue can hold kMaxRequestsWaiting of them: the record is a separate allocation.
  struct Node {
    uint64_t key = 0;  // first frame
    uint32_t conn = 0;
    bool ready = false;          // written by its worker: the record is in `kept`
    std::unique_ptr<Kept> kept;  // what has come of its record
  };
  static constexpr size_t kNoCut = SIZE_MAX;
  // Nodes kept for reuse (a queue of requests waiting for their answers holds a few thousand:
  // 3,581 at most in the 200 MB generated capture; 32 bytes each), kept records kept for reuse
  // and the largest record one keeps room for (at most 16 MiB kept).
  static constexpr size_t kSpareNodes = 4096;
  static constexpr size_t kSpareKept = 1024;
  static constexpr size_t kSpareBytes = size_t(16) << 10;
  static constexpr uint64_t kMarksPerRoom = 64;

  bool Take(unsigned w, RecordMark& mark) override;

  bool Written(unsigned w, RecordMark& mark);

  // The earliest requests that are ready, in order.
  void WriteReady();

  // A record: [0, cut) and [cut, split) its text, the fingerprint going at cut (kNoCut: none),
  // [split, end) what it tells the merge. Empty: the filter passed the request over. True when
  // the record's text was queued where it lies: those bytes stay until WritePieces().
  bool Emit(const char* base, size_t cut, size_t split, size_t end, uint32_t conn);

  // What the buffer holds past the pieces queued becomes the next piece. While pieces point
  // into the buffer nothing may make it write itself (kLeadRoom is kept free for a number).
  void QueueLead() {
    const size_t pending = m_out.pending();
    if (pending > m_leadFrom)
      m_pieces[m_count++] = iovec{m_out.cursor() - pending + m_leadFrom, pending - m_leadFrom};
    m_leadFrom = pending;
  }

  // Writes the queued pieces, and what the buffer holds after them; the nodes they came from
  // are recycled.
  void WritePieces();

  // As the tracker places a request in its queue: after every one with a first frame not later.
  static void Insert(std::deque<Node*>& queue, Node* n) {
    if (queue.empty() || queue.back()->key <= n->key) return queue.push_back(n);
    auto at = queue.end();
    while (at != queue.begin() && (*(at - 1))->key > n->key) --at;
    queue.insert(at, n);
  }

  // A ready record, as Emit() takes it. A record in place leaves the worker's held records: its
  // room is given back after the pieces are written.
  bool Emit(Node& n);

  // Records held in place are copied out, the earliest first, while they hold more than half of
  // a worker's channel, or any of it when the worker waits for room.
  void CopyOut();
  uint64_t RoomTail(unsigned w) const override {
    return m_inPlace[w].empty() ? m_state[w].tail : m_inPlace[w].front()->kept->start;
  }

  Node* NewNode();
  std::unique_ptr<Kept> NewKept();
  void Recycle(Node* n);

  bool Diverge() {
    m_diverged = true;
    Stop();
    return false;
  }

  void Flush() override {
    WritePieces();
    CopyOut();
    GiveRoom();
  }

  // Pieces per writev (a record takes two), and the room a record's number needs.
  static constexpr size_t kMaxPieces = 128;
  static constexpr size_t kLeadRoom = 64;

  RequestJsonWriter* m_jsonLog;
  RequestTextWriter* m_textLog;
  OutBuffer& m_out;
  // The whole log's queue and each worker's, in the order sent; the nodes belong to the first.
  std::deque<Node*> m_queue;
  std::vector<std::deque<Node*>> m_local;
  std::vector<std::deque<Node*>> m_inPlace;  // each worker's records held in place, in order
  std::vector<std::unique_ptr<Node>> m_spare;
  std::vector<std::unique_ptr<Kept>> m_spareKept;
  // Connections with ready records in the queue, and how many.
  ConnectionCounts m_readyByConn;
  // Records queued to be written where they lie, and the nodes holding some of them.
  struct iovec m_pieces[kMaxPieces];
  size_t m_count = 0;
  size_t m_leadFrom = 0;  // the buffer's bytes before this are in the pieces
  std::vector<Node*> m_written;
  Request m_fake;  // what the fingerprint of a dynamic request needs of it
  std::string m_day;
  uint64_t m_taken = 0;
  uint64_t m_shown = 0;
  bool m_diverged = false;
};
