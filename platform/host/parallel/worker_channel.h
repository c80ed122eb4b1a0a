// What a decoding worker process and the process that merges its records share: the worker's
// rendered records (a ring of bytes and a ring of marks saying where each record ends and
// which event made it), how far the worker got, and its statistics at the end. The memory is
// mapped shared before fork(); each side waits on the other with a futex.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "options.h"
#include "parallel/halvable_ring.h"
#include "stats.h"

constexpr uint64_t kOpenEnd = UINT64_MAX;

// Where one record ends in its worker's byte stream, and where it goes in the merged output.
// A mark is published when its record begins; `end` is set when the record is complete.
struct RecordMark {
  uint64_t event;             // the sink call that made the record: the merge order
  uint64_t start;             // where the record begins in the worker's stream
  std::atomic<uint64_t> end;  // the byte after it; kOpenEnd until the record is complete
  uint32_t conn;
  uint8_t flags;  // kMark*
  // The request log (the record is then one step of the worker's request tracker):
  uint8_t step = 0;  // kStep*
  uint64_t key = 0;  // the request's first frame (its place among the requests sent)
  // Within a written request's record: where the merge puts the fingerprint (kOpenEnd: it does
  // not), and where the record's text ends and what it tells the merge begins.
  uint64_t cut = kOpenEnd;
  uint64_t split = kOpenEnd;
};
constexpr uint8_t kMarkNewNumber = 0x01;  // the record starts a message: it takes the next number
constexpr uint8_t kMarkLastPart = 0x02;   // no later part of its message follows
constexpr uint8_t kMarkServer = 0x04;     // server to client
// Steps of a worker's request tracker, in the order it took them.
constexpr uint8_t kStepQueued = 1;   // a request joined the queue of requests in the order sent
constexpr uint8_t kStepWritten = 2;  // the tracker wrote the earliest of its queue (the record)
constexpr uint8_t kStepLogin = 3;    // the connection's login was read: who it names changed

// Ceilings of one worker's records in flight: past them the worker waits for the merger. The
// worker's output buffer is a window of kWindowBytes inside its channel. The message view's
// records are about eight times its input, the request log's less than half. Worker 0 reads the
// input and runs ahead of the workers it feeds by what waits in their feeds, and its records wait
// for theirs: in the message view its channel is the larger. A new connection goes to a fed
// worker while fewer than `placeBelow` bytes wait in its feed (so it stays about that far behind),
// at most half the feed and an eighth of the input left to read (so that the fed workers end
// about when worker 0 does). The request log's records wait little: its feeds are the larger, so
// that a burst of worker 0's own connections leaves the others enough to do.
// Channels and feeds are halved for good once the run tracks more than kManyConnections
// (HalvableRing::Shrink): what the workers keep for many connections and their rings then stay
// within the run's budget.
struct RunShape {
  size_t readerChannel;  // worker 0's channel
  size_t fedChannel;     // each other worker's
  size_t placeBelow;
  size_t feedBytes;  // each fed worker's feed
};
constexpr RunShape kMessageRun{size_t(16) << 20, size_t(4) << 20, size_t(1) << 20, size_t(4) << 20};
constexpr RunShape kRequestRun{size_t(4) << 20, size_t(4) << 20, size_t(4) << 20, size_t(8) << 20};
constexpr size_t kManyConnections = 4096;
constexpr uint32_t kAnyWorker = UINT32_MAX;
constexpr size_t kWindowBytes = size_t(256) << 10;
constexpr size_t kChannelMarks = size_t(1) << 13;
// The longest either side of a channel waits on the other before it looks again.
constexpr int kWaitMs = 100;

// The record bytes are the ring (the worker writes, the merger reads).
struct WorkerChannel : HalvableRing {
  // Written by the worker.
  alignas(64) std::atomic<uint64_t> dataHead{0};  // bytes published
  std::atomic<uint64_t> markHead{0};              // marks published
  // Every record made by an event up to this one is published.
  std::atomic<uint64_t> progress{0};
  std::atomic<uint32_t> done{0};     // the worker finished: nothing more comes
  std::atomic<uint32_t> waiting{0};  // the worker waits for room
  // Written by the merger.
  alignas(64) std::atomic<uint64_t> dataTail{0};  // room given back
  std::atomic<uint64_t> dataTaken{0};             // bytes taken (some may still be held)
  std::atomic<uint64_t> markTail{0};
  std::atomic<uint32_t> freed{0};  // bumped whenever room is made (the worker's futex word)
  // The worker's results, valid once done is set.
  HostStats stats;
  uint64_t cutConnections = 0;  // cut by the worker's own ceiling on held bytes
  uint64_t cutBytes = 0;
  char error[512] = {};
  RecordMark marks[kChannelMarks];
};

struct WorkerFeed;

struct SharedRun {
  std::atomic<uint32_t> published{0};  // bumped by every worker's publish (the merger's futex word)
  std::atomic<uint32_t> mergerWaiting{0};
  // The worker whose records or progress the waiting merger needs before it can take any more
  // (kAnyWorker: it has taken everything published).
  std::atomic<uint32_t> mergerWaitsOn{kAnyWorker};
  std::atomic<uint32_t> stop{0};  // the merger cannot write any more: workers stop reading
  // Connections the reading worker tracks, as of its latest publish.
  std::atomic<uint32_t> tracked{0};
  unsigned workers = 0;
  size_t placeBelow = 0;  // RunShape's
  WorkerChannel* channel(unsigned i);
  // What worker 0, which reads the input, hands to worker i (i > 0).
  WorkerFeed* feed(unsigned i);
};

// The channels follow the run in the same mapping, from its next cache line on.
constexpr size_t kChannelOffset = (sizeof(SharedRun) + 63) / 64 * 64;
inline WorkerChannel* SharedRun::channel(unsigned i) {
  return reinterpret_cast<WorkerChannel*>(reinterpret_cast<char*>(this) + kChannelOffset) + i;
}

// Maps a SharedRun for `workers` channels (null when the system refuses), and lets it go.
SharedRun* MapSharedRun(unsigned workers, const RunShape& shape);
void UnmapSharedRun(SharedRun* run);

// Futex waits and wakes on a shared 32-bit word; waits end after at most `timeoutMs` (false
// when that ended it).
bool WaitWord(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs);
void WakeWord(std::atomic<uint32_t>& word);
