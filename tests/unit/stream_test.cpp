// Stream rules alone: TDS packet framing of in-order bytes, and sequence ordering of TCP
// segments (retransmissions, early segments, gaps, bytes the capture cut off, FIN position).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "streams/packet_framer.h"
#include "streams/seq_tracker.h"

namespace {

// A TDS packet of `length` bytes (header included) whose data bytes are `fill`.
Bytes Packet(uint16_t length, uint8_t fill = 0xAA, uint8_t type = 15) {
  Bytes p(length < 8 ? 8 : length, fill);
  p[0] = type;
  p[1] = 1;
  p[2] = static_cast<uint8_t>(length >> 8);
  p[3] = static_cast<uint8_t>(length);
  p[4] = p[5] = p[6] = p[7] = 0;
  return p;
}

struct Framer {
  PacketFramer framer;
  Bytes scratch;
  explicit Framer(PacketFramer::Mode mode = PacketFramer::Mode::kFraming, size_t ceiling = 65535)
      : framer(mode, ceiling) {}
  // What one Feed hands over (empty: nothing), and whether it pointed into the input.
  Bytes Feed(const Bytes& in, bool* inInput = nullptr) {
    FramedBytes out;
    if (!framer.Feed(in.data(), in.size(), scratch, out)) return {};
    if (inInput) *inInput = out.inInput;
    if (out.inInput) {
      EXPECT_GE(out.data, in.data());
      EXPECT_LE(out.data + out.length, in.data() + in.size());
    }
    return Bytes(out.data, out.data + out.length);
  }
  Bytes Gap() {
    FramedBytes out;
    return framer.Gap(scratch, out) ? Bytes(out.data, out.data + out.length) : Bytes();
  }
  Bytes End() {
    FramedBytes out;
    return framer.End(scratch, out) ? Bytes(out.data, out.data + out.length) : Bytes();
  }
};

}  // namespace

TEST(PacketFraming, WholePacketsGoOutAsGivenWithoutCopy) {
  Framer f;
  const Bytes two = Cat({Packet(12, 1), Packet(9, 2)});
  bool inInput = false;
  EXPECT_EQ(f.Feed(two, &inInput), two);
  EXPECT_TRUE(inInput);
  EXPECT_EQ(f.framer.held(), 0u);
}

TEST(PacketFraming, PacketOverThreeSegmentsGoesOutWithTheLast) {
  Framer f;
  const Bytes p = Packet(300, 7);
  EXPECT_TRUE(f.Feed(Slice(p, 0, 100)).empty());
  EXPECT_TRUE(f.Feed(Slice(p, 100, 200)).empty());
  EXPECT_EQ(f.framer.held(), 200u);
  bool inInput = true;
  EXPECT_EQ(f.Feed(Slice(p, 200, 300), &inInput), p);
  EXPECT_FALSE(inInput);
  EXPECT_EQ(f.framer.held(), 0u);
}

TEST(PacketFraming, CompletedPacketComesWithTheSegmentsWholePacketsAndTheTailIsHeld) {
  Framer f;
  const Bytes a = Packet(20, 1), b = Packet(10, 2), c = Packet(16, 3), d = Packet(30, 4);
  EXPECT_TRUE(f.Feed(Slice(a, 0, 5)).empty());
  // The rest of a, all of b and c, and the start of d.
  EXPECT_EQ(f.Feed(Cat({Slice(a, 5, 20), b, c, Slice(d, 0, 11)})), Cat({a, b, c}));
  EXPECT_EQ(f.framer.held(), 11u);
  EXPECT_EQ(f.Feed(Slice(d, 11, 30)), d);
}

TEST(PacketFraming, HeaderSplitInsideTheLengthField) {
  Framer f;
  const Bytes p = Packet(40, 9);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(f.Feed(Slice(p, i, i + 1)).empty()) << i;
  EXPECT_TRUE(f.Feed(Slice(p, 3, 39)).empty());
  EXPECT_EQ(f.Feed(Slice(p, 39, 40)), p);
}

TEST(PacketFraming, LengthBelowEightCountsAsEight) {
  Framer f;
  Bytes shortLength = Packet(8, 5);
  shortLength[3] = 3;  // claims 3 bytes
  const Bytes next = Packet(9, 6);
  EXPECT_EQ(f.Feed(Cat({shortLength, next})), Cat({shortLength, next}));
  Bytes zero = Packet(8);
  zero[3] = 0;
  EXPECT_TRUE(f.Feed(Slice(zero, 0, 7)).empty());
  EXPECT_EQ(f.Feed(Slice(zero, 7, 8)), zero);
}

TEST(PacketFraming, EndAndGapHandHeldBytesOverAsTheyAre) {
  Framer f;
  const Bytes p = Packet(50);
  EXPECT_TRUE(f.Feed(Slice(p, 0, 20)).empty());
  EXPECT_EQ(f.End(), Slice(p, 0, 20));
  EXPECT_EQ(f.framer.flushedBytes(), 20u);
  EXPECT_TRUE(f.End().empty()) << "nothing held any more";

  EXPECT_TRUE(f.Feed(Slice(p, 0, 30)).empty());
  EXPECT_EQ(f.Gap(), Slice(p, 0, 30));
  EXPECT_EQ(f.framer.mode(), PacketFramer::Mode::kResync);
  // After lost bytes a piece that does not begin a packet goes out whole...
  const Bytes middle(25, 0xEE);
  EXPECT_EQ(f.Feed(middle), middle);
  EXPECT_EQ(f.framer.mode(), PacketFramer::Mode::kResync);
  // ...and framing resumes at the first piece that does.
  const Bytes q = Packet(12);
  EXPECT_TRUE(f.Feed(Slice(q, 0, 9)).empty());
  EXPECT_EQ(f.framer.mode(), PacketFramer::Mode::kFraming);
  EXPECT_EQ(f.Feed(Slice(q, 9, 12)), q);
}

TEST(PacketFraming, JoinedMidwayWaitsForAPacketStart) {
  Framer f(PacketFramer::Mode::kWaitForStart);
  const Bytes tail(100, 0x33);  // the end of a packet whose start was not captured
  EXPECT_TRUE(f.Feed(tail).empty());
  Bytes notPlausible = Packet(20);
  notPlausible[1] = 0x40;  // an undefined status bit
  EXPECT_TRUE(f.Feed(notPlausible).empty());
  Bytes badNext = Cat({Packet(10), Packet(10)});
  badNext[10] = 99;  // the second header's type makes no sense
  EXPECT_TRUE(f.Feed(badNext).empty());
  EXPECT_EQ(f.framer.skippedBytes(), 100u + 20u + 20u);
  const Bytes good = Packet(10);
  EXPECT_EQ(f.Feed(good), good);
  EXPECT_EQ(f.framer.mode(), PacketFramer::Mode::kFraming);
}

TEST(PacketFraming, HeldBytesPastTheCeilingGoOutAsTheyAre) {
  Framer f(PacketFramer::Mode::kFraming, 64);
  const Bytes big = Packet(200);
  EXPECT_TRUE(f.Feed(Slice(big, 0, 60)).empty());
  EXPECT_EQ(f.Feed(Slice(big, 60, 100)), Slice(big, 0, 100));
  EXPECT_EQ(f.framer.held(), 0u);
  EXPECT_EQ(f.framer.mode(), PacketFramer::Mode::kResync);
  Framer g(PacketFramer::Mode::kFraming, 64);
  const Bytes whole = Packet(10);
  EXPECT_EQ(g.Feed(Cat({whole, Slice(big, 0, 100)})), Cat({whole, Slice(big, 0, 100)}));
}

namespace {

// Records what the tracker delivers; a gap shows as "|".
struct Recorder : PieceSink {
  std::string stream;
  std::vector<uint64_t> frames;
  void Deliver(const StreamPiece& p) override {
    stream.append(reinterpret_cast<const char*>(p.data), p.length);
    frames.push_back(p.frame);
  }
  void Gap(const StreamPiece&) override { stream += '|'; }
};

const uint8_t kEth[14] = {};

struct Tracker {
  StreamCounters counters;
  SeqSetup setup;
  SeqTracker seq;
  Recorder sink;
  explicit Tracker(SeqLimits limits = SeqLimits()) : setup{limits, &counters} {}
  void Seg(uint32_t at, const std::string& text, uint64_t frame = 0, size_t wire = 0) {
    StreamPiece p;
    p.data = reinterpret_cast<const uint8_t*>(text.data());
    p.length = text.size();
    p.frame = frame;
    p.ethernet = kEth;
    seq.Segment(setup, at, p, wire ? wire : text.size(), sink);
  }
  void Drain() {
    StreamPiece context;
    context.ethernet = kEth;
    seq.Drain(setup, context, sink);
  }
};

}  // namespace

TEST(SequenceOrder, InOrderRetransmittedAndOverlapping) {
  Tracker t;
  t.seq.Syn(999);
  t.Seg(1000, "abcd");
  t.Seg(1004, "efgh");
  t.Seg(1000, "abcd");    // retransmission
  t.Seg(1006, "ghijkl");  // overlaps two bytes delivered before
  EXPECT_EQ(t.sink.stream, "abcdefghijkl");
  EXPECT_EQ(t.counters.retransmittedBytes, 6u);
  EXPECT_EQ(t.seq.next(), 1012u);
}

TEST(SequenceOrder, WithoutSynTheFirstSegmentSetsThePosition) {
  Tracker t;
  t.Seg(5000, "xy");
  t.Seg(4990, "old");  // before the first byte seen: taken as already delivered
  t.Seg(5002, "z");
  EXPECT_EQ(t.sink.stream, "xyz");
}

TEST(SequenceOrder, EarlySegmentsWaitForTheGapAndComeOutWithTheFrameThatFillsIt) {
  Tracker t;
  t.seq.Syn(0);
  t.Seg(1, "ab", 1);
  t.Seg(7, "gh", 2);  // early
  t.Seg(5, "ef", 3);  // early, before the other
  EXPECT_EQ(t.sink.stream, "ab");
  EXPECT_EQ(t.seq.waitingSegments(), 2u);
  t.Seg(3, "cd", 4);  // fills the gap
  EXPECT_EQ(t.sink.stream, "abcdefgh");
  EXPECT_EQ(t.sink.frames, (std::vector<uint64_t>{1, 4, 4, 4}));
  EXPECT_EQ(t.counters.outOfOrderSegments, 2u);
  EXPECT_EQ(t.seq.bufferedBytes(), 0u);
}

TEST(SequenceOrder, SequenceNumbersWrapAround) {
  Tracker t;
  t.seq.Syn(0xFFFFFFFDu);
  t.Seg(0xFFFFFFFEu, "ab");
  t.Seg(2, "ef");
  t.Seg(0, "cd");
  EXPECT_EQ(t.sink.stream, "abcdef");
}

TEST(SequenceOrder, GapThatNeverFillsIsGivenUpPastTheWindow) {
  SeqLimits limits;
  limits.maxSegments = 2;
  limits.maxBufferedBytes = 1000;
  Tracker t(limits);
  t.seq.Syn(0);
  t.Seg(1, "a");
  t.Seg(10, "j");
  t.Seg(12, "l");
  EXPECT_EQ(t.sink.stream, "a");
  t.Seg(14, "n");  // a third early segment: the first gap is given up
  EXPECT_EQ(t.sink.stream, "a|j");
  EXPECT_EQ(t.counters.gaps, 1u);
  t.Seg(11, "k");  // fills the next gap
  EXPECT_EQ(t.sink.stream, "a|jkl");
  t.Drain();  // the end: what waits goes out after its gap
  EXPECT_EQ(t.sink.stream, "a|jkl|n");
  EXPECT_EQ(t.seq.bufferedBytes(), 0u);
}

TEST(SequenceOrder, ByteCeilingAlsoGivesUpTheGap) {
  SeqLimits limits;
  limits.maxBufferedBytes = 4;
  Tracker t(limits);
  t.seq.Syn(0);
  t.Seg(10, "abc");
  t.Seg(20, "defg");
  EXPECT_EQ(t.sink.stream, "|abc");
  EXPECT_LE(t.seq.bufferedBytes(), 4u);
}

TEST(SequenceOrder, BytesTheCaptureCutOffAreAGap) {
  Tracker t;
  t.seq.Syn(0);
  t.Seg(1, "abc", 1, 10);  // carried 10 bytes, 3 captured
  t.Seg(11, "xyz", 2);
  EXPECT_EQ(t.sink.stream, "abc|xyz");
}

TEST(SequenceOrder, FinIsReachedWhenEveryByteBeforeItArrived) {
  Tracker t;
  t.seq.Syn(0);
  t.Seg(1, "ab");
  t.seq.Fin(5);  // after "abcd", of which "cd" is still missing
  EXPECT_FALSE(t.seq.finReached());
  t.Seg(3, "cd");
  EXPECT_TRUE(t.seq.finReached());
}
