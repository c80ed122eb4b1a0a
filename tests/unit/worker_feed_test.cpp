// The feed from the reading worker to a fed worker: the calls a connection placed on another
// worker gets in the reading worker come out of the fed worker's replay as the same calls, with
// the same event counts, and a full feed makes the writer wait without losing or reordering a
// byte.
#include "parallel/worker_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "parallel/worker_channel.h"
#include "parallel/worker_view.h"

namespace {

std::string Digest(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = sum * 31 + data[i];
  return std::to_string(sum);
}
std::string Digest(const std::vector<uint8_t>& bytes) {
  return Digest(bytes.data(), bytes.size());
}

// What the inner view was told, with the event count of the WorkerView around it at each call.
class RecordingView : public View {
 public:
  const WorkerView* outer = nullptr;
  std::vector<std::string> log;

  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override {
    Note("opened " + std::to_string(conn) + " " + std::to_string(ends.client[3]) + ":" +
         std::to_string(ends.clientPort) + ">" + std::to_string(ends.server[3]) + ":" +
         std::to_string(ends.serverPort));
  }
  DirectionSink* OpenDirection(uint32_t conn, bool c2s, bool midStream) override {
    Note("open " + std::to_string(conn) + (c2s ? "c" : "s") + (midStream ? " mid" : ""));
    return new Sink(*this, std::to_string(conn) + (c2s ? "c" : "s"));
  }
  void CloseDirection(DirectionSink* sink) override {
    Note("close " + static_cast<Sink*>(sink)->name);
    delete sink;
  }
  void ConnectionEnded(uint32_t conn) override { Note("ended " + std::to_string(conn)); }

  void Note(const std::string& what) {
    log.push_back(what + " @" + std::to_string(outer ? outer->event() : 0));
  }

 private:
  struct Sink : DirectionSink {
    RecordingView& view;
    std::string name;
    Sink(RecordingView& v, std::string n) : view(v), name(std::move(n)) {}
    void Deliver(const StreamPiece& p) override {
      view.Note(name + ":" + std::to_string(p.length) + "#" + Digest(p.data, p.length) + " frame " +
                std::to_string(p.frame));
    }
    void Gap(const StreamPiece& p) override {
      view.Note(name + ":gap frame " + std::to_string(p.frame));
    }
    void End(uint64_t frame) override {
      view.Note("end " + name + " frame " + std::to_string(frame));
    }
    void CutForMemory() override { view.Note("cut " + name); }
    size_t HeldBytes() const override { return 0; }
  };
};

unsigned PlaceOnWorkerOne(void*, uint32_t) {
  return 1;
}
void NoWait(void*) {}
void NoIdle(void*, uint64_t) {}

struct SharedMemory {
  SharedRun* run =
      MapSharedRun(2, RunShape{size_t(1) << 20, size_t(1) << 20, size_t(1) << 20, kLeastFeedBytes});
  ~SharedMemory() { UnmapSharedRun(run); }
};

// 10.0.0.1:40001 to 10.0.0.2:5000.
ConnectionEnds Ends() {
  static const uint8_t client[4] = {10, 0, 0, 1}, server[4] = {10, 0, 0, 2};
  ConnectionEnds ends;
  ends.client = client;
  ends.clientPort = 40001;
  ends.server = server;
  ends.serverPort = 5000;
  return ends;
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return bytes;
}

// The reading worker's side: a WorkerView that places every connection on worker 1.
struct Reader {
  RecordingView inner;
  WorkerView view{inner, size_t(1) << 20};
  FeedWriter writer;
  FeedWriter* feeds[2] = {nullptr, &writer};
  int64_t clock = 0;
  explicit Reader(SharedRun& run) : writer(*run.feed(1), run.stop, &NoWait, nullptr) {
    view.SetFeeds(0, feeds, &PlaceOnWorkerOne, nullptr, &clock);
  }
};

// The fed worker's side: its own WorkerView over a recording view.
struct Fed {
  RecordingView inner;
  WorkerView view{inner, size_t(1) << 20};
  Fed() { inner.outer = &view; }
};

TEST(WorkerFeed, ACallOfTheReadingWorkerIsReplayedAsTheSameCallWithItsEventCount) {
  SharedMemory shared;
  ASSERT_NE(shared.run, nullptr);
  Reader reader(*shared.run);
  const ConnectionEnds ends = Ends();
  // A connection that carries no TDS only counts, in the reading worker alone (events 1 and 3).
  reader.view.CloseDirection(reader.view.OpenDirection(3, true, false));
  reader.view.ConnectionOpened(7, ends);
  DirectionSink* c2s = reader.view.OpenDirection(7, true, false);
  DirectionSink* s2c = reader.view.OpenDirection(7, false, true);
  // A piece longer than one command carries goes in parts and comes out whole.
  const std::vector<uint8_t> big = Pattern(600 * 1024, 1), small = Pattern(300, 2);
  StreamPiece piece;
  piece.data = big.data();
  piece.length = big.size();
  piece.frame = 11;
  reader.clock = 1700000000000001;
  reader.view.OpenDirection(3, false, false)->Deliver(piece);
  c2s->Deliver(piece);
  piece.data = small.data();
  piece.length = small.size();
  piece.frame = 12;
  s2c->Deliver(piece);
  s2c->Gap(piece);
  s2c->CutForMemory();
  s2c->End(13);
  c2s->End(14);
  reader.view.CloseDirection(c2s);
  reader.view.CloseDirection(s2c);
  reader.view.ConnectionEnded(7);
  const uint64_t last = reader.view.event();
  reader.writer.Finish(last);

  Fed fed;
  FeedReader feed(*shared.run->feed(1), shared.run->stop);
  std::vector<int64_t> times;
  while (const FeedCommand* c = feed.Next(&NoIdle, nullptr)) {
    fed.view.Replay(*c);
    times.push_back(c->timeUs);
  }
  // Opened, two directions, the big piece in three parts, the small one, gap, cut, two ends,
  // two closes, ended, done.
  ASSERT_EQ(times.size(), 15u);
  EXPECT_EQ(times[5], 1700000000000001);
  EXPECT_EQ(fed.view.event(), last);
  const std::vector<std::string> want = {
      "opened 7 1:40001>2:5000 @2",
      "open 7c @2",
      "open 7s mid @2",
      "7c:614400#" + Digest(big) + " frame 11 @4",
      "7s:300#" + Digest(small) + " frame 12 @5",
      "7s:gap frame 12 @6",
      "cut 7s @7",
      "end 7s frame 13 @8",
      "end 7c frame 14 @9",
      "close 7c @10",
      "close 7s @11",
      "ended 7 @12",
  };
  EXPECT_EQ(fed.inner.log, want);
  EXPECT_TRUE(reader.inner.log.empty());  // nothing was decoded by the reading worker
}

// 12 MiB of pieces of one connection through the 4 MiB feed. The fed worker takes the commands
// on another thread, starting only once the writer has filled the feed and waits. With `halve`
// the writer halves the feed once a few pieces wait (and not before they lie in its first half).
// Once done, the writer gives back what was read while the rest is read. Every piece comes out,
// in order, with its bytes.
void SendThroughFullFeed(bool halve) {
  SharedMemory shared;
  ASSERT_NE(shared.run, nullptr);
  Reader reader(*shared.run);
  reader.view.ConnectionOpened(1, Ends());
  DirectionSink* sink = reader.view.OpenDirection(1, true, false);

  Fed fed;
  WorkerFeed& ring = *shared.run->feed(1);
  std::thread taker([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ring.writerWaiting.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    FeedReader feed(ring, shared.run->stop);
    while (const FeedCommand* c = feed.Next(&NoIdle, nullptr)) fed.view.Replay(*c);
  });
  std::vector<size_t> lengths;
  bool halved = false;
  for (size_t total = 0; total < (size_t(12) << 20);) {
    const std::vector<uint8_t> bytes =
        Pattern(1 + (lengths.size() * 7919) % 65000, static_cast<uint8_t>(lengths.size()));
    StreamPiece piece;
    piece.data = bytes.data();
    piece.length = bytes.size();
    piece.frame = lengths.size() + 1;
    sink->Deliver(piece);
    lengths.push_back(bytes.size());
    total += bytes.size();
    if (halve && !halved && lengths.size() >= 4) {
      halved = reader.writer.Shrink();
      EXPECT_TRUE(halved);  // what waits lies in the first half
    }
  }
  reader.view.CloseDirection(sink);
  reader.view.ConnectionEnded(1);
  reader.writer.Finish(reader.view.event());
  // The writer is done: what the fed worker has read goes, while it reads the rest.
  reader.writer.GiveBackTaken();
  taker.join();
  EXPECT_GT(ring.freed.load(), 0u);  // the writer waited, and was woken
  EXPECT_EQ(halved, halve);
  EXPECT_EQ(reader.writer.capacity(), halve ? kLeastFeedBytes / 2 : kLeastFeedBytes);

  RecordingView direct;
  std::unique_ptr<DirectionSink> check(direct.OpenDirection(1, true, false));
  for (size_t i = 0; i < lengths.size(); ++i) {
    const std::vector<uint8_t> bytes = Pattern(lengths[i], static_cast<uint8_t>(i));
    StreamPiece piece;
    piece.data = bytes.data();
    piece.length = bytes.size();
    piece.frame = i + 1;
    check->Deliver(piece);
  }
  ASSERT_EQ(fed.inner.log.size(), lengths.size() + 4);
  for (size_t i = 0; i < lengths.size(); ++i) {
    const std::string& got = fed.inner.log[i + 2];
    const std::string& made = direct.log[i + 1];
    ASSERT_EQ(got.substr(0, got.rfind('@')), made.substr(0, made.rfind('@'))) << "piece " << i;
  }
}

TEST(WorkerFeed, AFullFeedMakesTheWriterWaitAndLosesNothing) {
  SendThroughFullFeed(false);
}

TEST(WorkerFeed, AFeedHalvedWhileCommandsWaitLosesNothing) {
  SendThroughFullFeed(true);
}

TEST(WorkerFeed, AFeedIsNotHalvedWhileWhatWaitsReachesItsSecondHalf) {
  SharedMemory shared;
  ASSERT_NE(shared.run, nullptr);
  Reader reader(*shared.run);
  reader.view.ConnectionOpened(1, Ends());
  DirectionSink* sink = reader.view.OpenDirection(1, true, false);
  const std::vector<uint8_t> bytes = Pattern(200 * 1024, 3);
  StreamPiece piece;
  piece.data = bytes.data();
  piece.length = bytes.size();
  for (int i = 0; i < 11; ++i) sink->Deliver(piece);  // 2.2 MB waiting, none taken
  EXPECT_FALSE(reader.writer.Shrink());
  EXPECT_EQ(reader.writer.capacity(), kLeastFeedBytes);
}

TEST(WorkerFeed, AFedWorkerWithNothingToTakeIsToldHowFarTheReaderGot) {
  SharedMemory shared;
  ASSERT_NE(shared.run, nullptr);
  FeedWriter writer(*shared.run->feed(1), shared.run->stop, &NoWait, nullptr);
  writer.Publish(42);
  struct Told {
    SharedRun* run;
    uint64_t progress = 0;
    static void Idle(void* self, uint64_t progress) {
      Told& t = *static_cast<Told*>(self);
      t.progress = progress;
      t.run->stop.store(1);  // nothing more will come: the reader gives up at its next look
    }
  } told{shared.run};
  FeedReader feed(*shared.run->feed(1), shared.run->stop);
  EXPECT_EQ(feed.Next(&Told::Idle, &told), nullptr);
  EXPECT_EQ(told.progress, 42u);
}

}  // namespace
