// The merging process's side of a parallel run: takes the workers' records from their channels
// in the order of the events that made them, which is the order one worker would have written
// them in. What taking a record does is the derived merger's (MessageMerger, RequestMerger).
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "parallel/worker_channel.h"

// Takes the workers' records in event order: a record is taken once no other worker can still
// make one of an earlier event.
class MergeLoop {
 public:
  MergeLoop(SharedRun& run, const std::vector<pid_t>& pids)
      : m_run(run), m_pids(pids), m_state(run.workers) {}
  virtual ~MergeLoop() = default;

  // Until every worker is done and every record taken, or the merge stops.
  void Run();
  const std::string& error() const { return m_error; }

 protected:
  // The worker's published counters are read again only when the values last read do not
  // suffice: the worker writes them for every record, and each read takes their cache line
  // from the worker's core.
  struct State {
    uint64_t tail = 0;      // bytes taken (written or queued)
    uint64_t markTail = 0;  // marks taken
    uint64_t marks = 0;     // markHead, as last read
    uint64_t data = 0;      // dataHead, as last read
    uint64_t progress = 0;  // progress, as last read
    bool numbered = false;  // the number of the head record is out
    bool gone = false;      // the worker ended without saying it was done
  };

  // Takes what can be taken of the head record of worker w; false when nothing could be.
  virtual bool Take(unsigned w, RecordMark& mark) = 0;
  // Writes what was taken; then GiveRoom().
  virtual void Flush() = 0;
  // Where worker w's bytes still needed begin: what was taken and is not held in place.
  virtual uint64_t RoomTail(unsigned w) const { return m_state[w].tail; }

  // Gives the bytes and marks taken back to the workers.
  void GiveRoom();
  // Worker w's dataHead: as last read when that reaches `want`, else read again.
  uint64_t DataHead(unsigned w, uint64_t want) {
    State& s = m_state[w];
    if (s.data < want) s.data = m_run.channel(w)->dataHead.load(std::memory_order_acquire);
    return s.data;
  }
  // Nothing more is taken: the run ends here.
  void Stop() {
    m_stopped = true;
    m_run.stop.store(1);
  }

  SharedRun& m_run;
  std::vector<pid_t> m_pids;
  std::vector<State> m_state;
  std::string m_error;
  bool m_stopped = false;
  bool m_stopForwarded = false;
  uint32_t m_waitsOn = kAnyWorker;  // as Step last found it (SharedRun::mergerWaitsOn)

 private:
  bool AnyWaiting();
  bool Done(unsigned w);
  bool AllDone();
  // The head mark of worker w, or null (then the worker's markHead has just been read).
  RecordMark* Head(unsigned w) {
    WorkerChannel& c = *m_run.channel(w);
    State& s = m_state[w];
    if (s.markTail >= s.marks) {
      s.marks = c.markHead.load(std::memory_order_acquire);
      if (s.markTail >= s.marks) return nullptr;
    }
    // Marks published are complete: the next few are fetched from the worker's core ahead.
    if (s.markTail + 4 < s.marks) __builtin_prefetch(&c.marks[(s.markTail + 4) % kChannelMarks]);
    return &c.marks[s.markTail % kChannelMarks];
  }
  // Whether worker w, whose head mark is `head` (Head's, in this step), may still make a record
  // of an event before `event`.
  bool MayPrecede(unsigned w, const RecordMark* head, uint64_t event);
  // Takes what can be taken of the next record in order; false when nothing could be.
  bool Step();
  // A worker that ended without finishing (killed, crashed) counts as done.
  void CheckWorkers();
};

// Writes the pieces to standard output as they are: 0, or the system's error number.
int WriteOut(struct iovec* pieces, size_t count);
