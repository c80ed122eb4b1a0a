// The calls of the connection table into a worker's view, carried from the reading worker to a
// fed worker. Worker 0 reads the input and keeps the only connection table; the connections it
// hands to worker k reach k as commands in k's feed, a ring of bytes in shared memory with one
// writer and one reader. A command carries the event count the call made in worker 0, so that
// the fed worker's records take their place in the merged order as if it had counted them itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "parallel/halvable_ring.h"

// What a command asks of the fed worker's view.
enum class FeedKind : uint8_t {
  kOpened = 1,  // ConnectionOpened: the payload is a FeedEnds
  kDirection,   // OpenDirection
  kDeliver,     // a direction's Deliver: the payload is the piece's bytes
  kGap,         // a direction's Gap
  kEnd,         // a direction's End
  kCut,         // a direction's CutForMemory
  kClose,       // CloseDirection
  kEnded,       // ConnectionEnded
  kDone,        // the input has ended: event is the last of the run
};

// A command as it lies in the ring, its payload after it; every command starts 8-byte aligned.
struct FeedCommand {
  uint64_t event;  // the event count after the call (OpenDirection counts none)
  uint64_t frame;
  int64_t timeUs;  // the capture time of the frame being read
  uint32_t conn;
  uint32_t length;  // payload bytes
  FeedKind kind;
  uint8_t clientToServer;
  uint8_t flag;  // kDirection: the stream starts midway; kDeliver: more of the piece follows
  uint8_t reserved[5];
};
static_assert(sizeof(FeedCommand) == 40, "commands are packed");

// A connection's two ends, as kOpened carries them.
struct FeedEnds {
  uint8_t client[16];
  uint8_t server[16];
  uint16_t clientPort;
  uint16_t serverPort;
  uint8_t ipVersion;
  uint8_t reserved[3];
};

// The ring is mapped twice in a row, so that a command never wraps. A feed is at least
// kLeastFeedBytes, and half that once halved. A piece longer than kFeedPiece goes in parts.
constexpr size_t kLeastFeedBytes = size_t(4) << 20;
constexpr size_t kFeedPiece = size_t(256) << 10;
static_assert(sizeof(FeedCommand) + kFeedPiece < kLeastFeedBytes / 4, "a command fits in the ring");
// The writer publishes its commands once this many bytes wait, and at every publish of its own.
constexpr size_t kFeedPublishBytes = size_t(32) << 10;

// The commands are the ring (worker 0 writes, the fed worker reads).
struct WorkerFeed : HalvableRing {
  // Written by the reading worker.
  alignas(64) std::atomic<uint64_t> head{0};  // bytes published
  // Every command of an event up to this one is published (the fed worker's progress when it
  // has taken everything published).
  std::atomic<uint64_t> progress{0};
  std::atomic<uint32_t> posted{0};  // bumped when the reader waits and there is more (futex word)
  std::atomic<uint32_t> done{0};    // the writer has ended: nothing more comes
  std::atomic<uint32_t> writerWaiting{0};
  // Written by the fed worker.
  alignas(64) std::atomic<uint64_t> tail{0};  // bytes taken
  std::atomic<uint32_t> freed{0};  // bumped when the writer waits and room was made (futex word)
  std::atomic<uint32_t> readerWaiting{0};

  FeedCommand* command(uint64_t position) const {
    return reinterpret_cast<FeedCommand*>(at(position));
  }
};

// Bytes a command of `payload` bytes takes in the ring.
inline size_t FeedSpan(size_t payload) {
  return (sizeof(FeedCommand) + payload + 7) & ~size_t(7);
}

// The reading worker's end of one feed.
class FeedWriter {
 public:
  // stop: set when the run ends early; waiting(context) is called before each pause for room.
  FeedWriter(WorkerFeed& feed, const std::atomic<uint32_t>& stop, void (*waiting)(void*),
             void* context)
      : m_feed(feed), m_stop(stop), m_waiting(waiting), m_context(context) {}

  // Room for a command with `payload` bytes after it, its header to fill in; null once the run
  // has stopped while this waited for room (the command is then dropped).
  FeedCommand* Reserve(size_t payload) {
    const size_t span = FeedSpan(payload);
    if (m_written + span - m_tail > m_feed.dataBytes.load(std::memory_order_relaxed) &&
        !WaitForRoom(span))
      return nullptr;
    return m_feed.command(m_written);
  }
  // The command reserved last is written.
  void Commit(const FeedCommand& c) {
    m_written += FeedSpan(c.length);
    if (m_written - m_published >= kFeedPublishBytes) Publish(c.event - 1);
  }
  // What was written is the reader's, with every event up to `progress`.
  void Publish(uint64_t progress);
  // Bytes written that the reader has not taken (its tail as it stands).
  uint64_t backlog() const { return m_written - m_feed.tail.load(std::memory_order_relaxed); }
  // The input has ended with event `last`: nothing more comes.
  void Finish(uint64_t last);
  // After Finish: the ring's memory the reader will not read again is given back.
  void GiveBackTaken() {
    m_feed.GiveBackAllBut(m_feed.tail.load(std::memory_order_acquire), m_written);
  }
  // Halves the ring for good (tried again until the commands waiting allow it); true once done.
  bool Shrink();
  // The ring's size now.
  uint64_t capacity() const { return m_feed.dataBytes.load(std::memory_order_relaxed); }

 private:
  bool WaitForRoom(size_t span);

  WorkerFeed& m_feed;
  const std::atomic<uint32_t>& m_stop;
  void (*m_waiting)(void*);
  void* m_context;
  uint64_t m_written = 0;    // bytes written
  uint64_t m_published = 0;  // bytes published
  uint64_t m_tail = 0;       // the reader's tail, as last read
  bool m_broken = false;     // a command was dropped: the run has stopped
};

// A fed worker's end of its feed.
class FeedReader {
 public:
  FeedReader(WorkerFeed& feed, const std::atomic<uint32_t>& stop) : m_feed(feed), m_stop(stop) {}

  // The next command, valid until the next call; null at the end of the feed. idle(context,
  // progress) is called before each pause for more, with the event every command up to which
  // has been taken.
  const FeedCommand* Next(void (*idle)(void*, uint64_t), void* context);

 private:
  WorkerFeed& m_feed;
  const std::atomic<uint32_t>& m_stop;
  uint64_t m_tail = 0;
  uint64_t m_head = 0;     // the writer's head, as last read
  uint64_t m_checked = 0;  // the tail when the writer's wait was last looked at
  size_t m_last = 0;       // bytes of the command handed out last
};
