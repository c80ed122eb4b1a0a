#include "parallel/parallel_worker.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "input/capture_reader.h"
#include "input/link_layer.h"
#include "input/progress.h"
#include "input/stop_signal.h"
#include "parallel/request_merge_notes.h"
#include "parallel/worker_channel.h"
#include "parallel/worker_feed.h"
#include "parallel/worker_view.h"
#include "requests/request_filter.h"
#include "requests/request_log.h"
#include "requests/request_render.h"
#include "requests/request_view.h"
#include "streams/connection_table.h"
#include "views/message_view.h"

namespace {

// The held-bytes ceiling of all workers together, shared out evenly.
constexpr size_t kHeldCeiling = size_t(64) << 20;
// A worker publishes how far it got at least this often (frames), and when this much output
// waits in its buffer.
constexpr uint64_t kPublishFrames = 512;
constexpr size_t kPublishBytes = size_t(256) << 10;

class Feeds;

// Writes a worker's records into its channel: the worker's output buffer is a window of the
// channel itself, so the bytes are rendered where the merger reads them; a mark per record.
class ChannelWriter : public MessageView::RecordHook {
 public:
  ChannelWriter(SharedRun& run, unsigned index)
      : m_run(run), m_channel(*run.channel(index)), m_index(index) {}
  void Attach(const OutBuffer* out, const WorkerView* view) {
    m_out = out;
    m_view = view;
  }
  // Whether the count of connections tracked decides when the channel is halved (not once the
  // input has ended).
  void Watch(bool on) { m_watch = on; }
  // The reading worker's feeds: published with its records.
  void SetFeeds(Feeds* feeds) { m_feeds = feeds; }

  // The output buffer's next window, after `written` bytes of the last.
  static char* NextWindow(void* self, size_t written, size_t* capacity) {
    ChannelWriter& w = *static_cast<ChannelWriter*>(self);
    w.m_written += written;
    if (w.m_watch && !w.m_shrunk &&
        w.m_run.tracked.load(std::memory_order_relaxed) > kManyConnections)
      w.m_shrunk =
          w.m_channel.Shrink(w.m_channel.dataTail.load(std::memory_order_acquire), w.m_written);
    w.m_channel.dataHead.store(w.m_written, std::memory_order_release);
    while (w.m_channel.dataBytes.load(std::memory_order_relaxed) -
               (w.m_written - w.m_channel.dataTail.load(std::memory_order_acquire)) <
           kWindowBytes)
      w.WaitForRoom();
    *capacity = kWindowBytes;
    return w.m_channel.at(w.m_written);
  }

  void Begin(uint32_t conn, bool clientToServer, bool newNumber, bool lastPart) override {
    RecordMark& m = NextMark();
    m.end.store(kOpenEnd, std::memory_order_relaxed);
    m.conn = conn;
    m.flags =
        static_cast<uint8_t>((newNumber ? kMarkNewNumber : 0) | (lastPart ? kMarkLastPart : 0) |
                             (clientToServer ? 0 : kMarkServer));
    m_open = &m;
    PublishMark();
  }
  void End() override {
    if (m_open) m_open->end.store(position(), std::memory_order_release);
    m_open = nullptr;
  }

  // The next mark, its event and start filled in (the merger sees it once published): waits
  // while the marks are full.
  RecordMark& NextMark() {
    const uint64_t head = m_channel.markHead.load(std::memory_order_relaxed);
    // The merger's markTail is read again only when the value last read says full.
    if (head - m_markTail >= kChannelMarks &&
        head - (m_markTail = m_channel.markTail.load(std::memory_order_acquire)) >= kChannelMarks) {
      // Full: wait until a quarter is free again, so as not to wake the merger per record.
      while (head - (m_markTail = m_channel.markTail.load(std::memory_order_acquire)) >
             kChannelMarks * 3 / 4)
        WaitForRoom();
    }
    RecordMark& m = m_channel.marks[head % kChannelMarks];
    m.event = m_view->event();
    m.start = position();
    return m;
  }
  void PublishMark() {
    m_channel.markHead.store(m_channel.markHead.load(std::memory_order_relaxed) + 1,
                             std::memory_order_release);
  }
  // Where the next byte rendered goes in the channel's stream.
  uint64_t position() const { return m_written + m_out->pending(); }

  // Called before each publish, for steps the worker tells late.
  class PublishHook {
   public:
    virtual ~PublishHook() = default;
    virtual void BeforePublish() = 0;
  };
  void SetPublishHook(PublishHook* hook) { m_hook = hook; }
  // The merger is woken once 1/share of the channel waits to be taken (see Notify).
  void SetWakeShare(uint64_t share) { m_wakeShare = share; }

  // Everything made so far is in the channel, and every event up to `event` is done.
  void Publish(OutBuffer& out, uint64_t event);

 private:
  // The merger is woken when it has much to take, or a worker waits for it: each wake costs
  // both sides a switch. While the merger waits on another worker's records, this worker's
  // piling up is no reason to wake it: it could take none of them.
  void Notify(bool urgent) {
    m_run.published.fetch_add(1, std::memory_order_seq_cst);
    if (!m_run.mergerWaiting.load(std::memory_order_seq_cst)) return;
    const uint32_t waitsOn = m_run.mergerWaitsOn.load(std::memory_order_seq_cst);
    bool wake = urgent || ((waitsOn == kAnyWorker || waitsOn == m_index) &&
                           Untaken(m_channel) >= m_channel.dataBytes.load() / m_wakeShare);
    for (unsigned w = 0; w < m_run.workers && !wake; ++w) {
      const WorkerChannel& c = *m_run.channel(w);
      // A worker that waits for room wakes it, and so does one whose channel is three
      // quarters full when the merger waits on this worker: this one's progress may be what
      // lets the merger free that channel.
      wake = c.waiting.load(std::memory_order_seq_cst) != 0 ||
             (waitsOn == m_index && Untaken(c) >= c.dataBytes.load() / 4 * 3);
    }
    if (wake) WakeWord(m_run.published);
  }
  static uint64_t Untaken(const WorkerChannel& c) {
    return c.dataHead.load(std::memory_order_relaxed) - c.dataTaken.load();
  }

  // The channel is full: the merger is told what is there and waited for.
  void WaitForRoom();
  void WaitForRoomNow() {
    const uint32_t seen = m_channel.freed.load(std::memory_order_seq_cst);
    m_channel.waiting.store(1, std::memory_order_seq_cst);
    Notify(true);
    WaitWord(m_channel.freed, seen, kWaitMs);
    m_channel.waiting.store(0, std::memory_order_seq_cst);
  }

  SharedRun& m_run;
  WorkerChannel& m_channel;
  unsigned m_index;
  const OutBuffer* m_out = nullptr;
  const WorkerView* m_view = nullptr;
  PublishHook* m_hook = nullptr;
  Feeds* m_feeds = nullptr;
  bool m_watch = false;
  bool m_shrunk = false;
  uint64_t m_wakeShare = 8;
  RecordMark* m_open = nullptr;
  uint64_t m_written = 0;   // bytes written into the channel
  uint64_t m_markTail = 0;  // the merger's markTail, as last read
};

// The event before the one in progress: every record of the events up to it is made.
uint64_t EventDone(const WorkerView& view) {
  return view.event() ? view.event() - 1 : 0;
}

// The reading worker's feeds, one for each other worker, and where it places connections.
class Feeds {
 public:
  Feeds(SharedRun& run, ChannelWriter& writer, OutBuffer& out, const WorkerView& view)
      : m_run(run), m_writer(writer), m_out(out), m_view(view) {
    for (unsigned w = 1; w < run.workers; ++w)
      m_writers[w] = new FeedWriter(*run.feed(w), run.stop, &Feeds::Waiting, this);
  }
  ~Feeds() {
    for (FeedWriter* f : m_writers) delete f;
  }
  FeedWriter* const* writers() const { return m_writers; }

  void PublishAll(uint64_t progress) {
    for (unsigned w = 1; w < m_run.workers; ++w) m_writers[w]->Publish(progress);
    if (!m_shrunk && m_run.tracked.load(std::memory_order_relaxed) > kManyConnections) {
      m_shrunk = true;
      for (unsigned w = 1; w < m_run.workers; ++w) m_shrunk = m_writers[w]->Shrink() && m_shrunk;
    }
  }
  // The input read, whose bytes left to read bound the fed workers' backlog.
  void SetInput(const FrameSource* input) { m_input = input; }
  // Every command of the events up to the one returned is written, `event` being the count
  // now: only while a command waits for room in a feed is its event not done.
  uint64_t Done(uint64_t event) const { return m_reserving && event ? event - 1 : event; }
  void FinishAll(uint64_t last) {
    for (unsigned w = 1; w < m_run.workers; ++w) m_writers[w]->Finish(last);
  }
  // This worker is done: what the fed workers have taken of their feeds is given back now, while
  // they decode the rest, rather than when the last of them ends.
  void GiveBackTaken() {
    for (unsigned w = 1; w < m_run.workers; ++w) m_writers[w]->GiveBackTaken();
  }

  // A new connection goes to the fed worker with the fewest bytes waiting in its feed, unless
  // all of them have the run's placeBelow waiting (at most half their feed, and an eighth of the
  // input left to read): then this worker, which reads for all of them, keeps it. A fed worker
  // whose feed fills is behind; one whose feed is empty has little to do; one with much waiting
  // when the input ends leaves this worker idle.
  static unsigned Place(void* self, uint32_t /*conn*/) {
    const Feeds& f = *static_cast<Feeds*>(self);
    uint64_t below = f.m_run.placeBelow;
    if (f.m_input && f.m_input->size() > f.m_input->position())
      below = std::min<uint64_t>(below, (f.m_input->size() - f.m_input->position()) / 8);
    unsigned best = 0;
    uint64_t least = below;
    for (unsigned w = 1; w < f.m_run.workers; ++w) {
      if (least > f.m_writers[w]->capacity() / 2) least = f.m_writers[w]->capacity() / 2;
      const uint64_t waiting = f.m_writers[w]->backlog();
      if (waiting < least) {
        least = waiting;
        best = w;
      }
    }
    return best;
  }

 private:
  // Before a pause for room in a feed, what this worker made is published, and every feed's
  // commands, so that nobody waits on it in turn.
  static void Waiting(void* self) {
    Feeds& f = *static_cast<Feeds*>(self);
    f.m_reserving = true;
    f.m_writer.Publish(f.m_out, EventDone(f.m_view));
    f.m_reserving = false;
  }

  SharedRun& m_run;
  ChannelWriter& m_writer;
  OutBuffer& m_out;
  const WorkerView& m_view;
  FeedWriter* m_writers[kMaxThreads] = {};
  const FrameSource* m_input = nullptr;
  bool m_reserving = false;  // a command waits for room in a feed
  bool m_shrunk = false;     // every feed is halved
};

void ChannelWriter::Publish(OutBuffer& out, uint64_t event) {
  if (m_hook) m_hook->BeforePublish();
  out.flush();
  m_channel.progress.store(event, std::memory_order_release);
  if (m_feeds) m_feeds->PublishAll(event);
  Notify(false);
}

void ChannelWriter::WaitForRoom() {
  // The fed workers may be what the merger waits on: they get every command first.
  if (m_feeds) m_feeds->PublishAll(m_feeds->Done(m_view->event()));
  WaitForRoomNow();
}

// Worker 0: reads the input to its end, decoding the connections it places on itself with
// `view` and feeding the others to their workers; its results go to its channel.
template <typename ViewType>
void ReadInput(SharedRun& run, const WorkerTask& task, ChannelWriter& writer, OutBuffer& out,
               ViewType& view, int64_t& clock, HostStats& stats) {
  WorkerView workers(view, kHeldCeiling / run.workers);
  Feeds feeds(run, writer, out, workers);
  workers.SetFeeds(0, feeds.writers(), &Feeds::Place, &feeds, &clock);
  writer.Attach(&out, &workers);
  writer.SetFeeds(&feeds);
  WorkerChannel& channel = *run.channel(task.index);
  const Options& options = *task.options;
  std::string error;
  std::unique_ptr<CaptureSource> source = CaptureSource::Open(*task.path, error, options.filter);
  if (!source) {
    std::snprintf(channel.error, sizeof(channel.error), "%s", error.c_str());
  } else {
    feeds.SetInput(source.get());
    TableLimits limits;
    limits.countSinkBytes = false;  // WorkerView's sinks hold nothing the table counts
    ConnectionTable table(options, workers, stats, limits);
    writer.Watch(true);
    Progress progress(*source);
    InputFrame input;
    TcpSegment segment;
    uint64_t frame = 0;
    while (!StopRequested() && !run.stop.load(std::memory_order_relaxed) &&
           !(options.count && stats.framesRead >= options.count) && source->Next(input)) {
      frame += 1 + input.filteredBefore;
      clock = input.timeUs;
      FeedFrame(input, frame, table, segment, stats);
      progress.Tick(stats.framesRead);
      if (stats.framesRead % kPublishFrames == 0 || out.pending() >= kPublishBytes) {
        run.tracked.store(static_cast<uint32_t>(table.tracked()), std::memory_order_relaxed);
        writer.Publish(out, workers.event());
      }
    }
    progress.Done();
    table.EndAll(frame);
    writer.Watch(false);
    if (!source->error().empty())
      std::snprintf(channel.error, sizeof(channel.error), "%s", source->error().c_str());
  }
  // The fed workers end their views as this one does, at the last event.
  feeds.FinishAll(workers.event());
  writer.SetFeeds(nullptr);
  view.EndAll();
  channel.cutConnections = workers.cutConnections();
  channel.cutBytes = workers.cutBytes();
  writer.Publish(out, UINT64_MAX);
  feeds.GiveBackTaken();
}

// A fed worker: replays its feed into `view` until the input has ended.
template <typename ViewType>
void ReplayFeed(SharedRun& run, const WorkerTask& task, ChannelWriter& writer, OutBuffer& out,
                ViewType& view, int64_t& clock) {
  WorkerView workers(view, kHeldCeiling / run.workers);
  writer.Attach(&out, &workers);
  writer.Watch(true);
  // Before a pause for more, the records made are published with the progress the feed gives.
  struct Idle {
    ChannelWriter& writer;
    OutBuffer& out;
    uint64_t done;  // the event of the last command replayed
    static void Publish(void* self, uint64_t progress) {
      Idle& i = *static_cast<Idle*>(self);
      i.writer.Publish(i.out, progress > i.done ? progress : i.done);
    }
  } idle{writer, out, 0};
  FeedReader reader(*run.feed(task.index), run.stop);
  uint64_t replayed = 0;
  while (const FeedCommand* c = reader.Next(&Idle::Publish, &idle)) {
    clock = c->timeUs;
    if (!workers.Replay(*c)) continue;  // a piece in parts: its records are not made yet
    idle.done = c->event;
    if (++replayed % kPublishFrames == 0 || out.pending() >= kPublishBytes)
      writer.Publish(out, c->event);
  }
  writer.Watch(false);
  view.EndAll();
  WorkerChannel& channel = *run.channel(task.index);
  channel.cutConnections = workers.cutConnections();
  channel.cutBytes = workers.cutBytes();
  writer.Publish(out, UINT64_MAX);
}

// A worker's part of the run: worker 0 reads, the others replay what it feeds them.
template <typename ViewType>
void DecodeInput(SharedRun& run, const WorkerTask& task, ChannelWriter& writer, OutBuffer& out,
                 ViewType& view, int64_t& clock, HostStats& stats) {
  if (task.index == 0)
    ReadInput(run, task, writer, out, view, clock, stats);
  else
    ReplayFeed(run, task, writer, out, view, clock);
}

// The worker is done: its statistics are out, the merger is told.
void EndWorker(SharedRun& run, WorkerChannel& channel, const HostStats& stats) {
  channel.stats = stats;
  channel.done.store(1, std::memory_order_seq_cst);
  run.published.fetch_add(1, std::memory_order_seq_cst);
  WakeWord(run.published);
}

// A worker's run: its channel's writer, its statistics and its output buffer, around
// `decode(writer, out, clock, stats)`, which makes the view and reads the input.
template <typename Decode>
void RunWorkerWith(SharedRun& run, const WorkerTask& task, Decode decode) {
  WorkerChannel& channel = *run.channel(task.index);
  ChannelWriter writer(run, task.index);
  HostStats stats;
  {
    OutBuffer out(&ChannelWriter::NextWindow, &writer);
    int64_t clock = 0;
    decode(writer, out, clock, stats);
  }
  EndWorker(run, channel, stats);
}

// A worker's request log: every step of its tracker that places a request in the order sent
// (joined the queue, written) becomes a mark, so that the merger can place the requests of all
// workers as one tracker would. Written requests go through the run's filter to the log's
// writer, which renders them into the channel, leaving the parts that depend on the whole log
// to the merger (RequestLogParts).
class RequestWorkerLog : public RequestOutput,
                         public RequestTracker::QueueHook,
                         public RequestLogParts,
                         public ChannelWriter::PublishHook {
 public:
  RequestWorkerLog(ChannelWriter& writer, OutBuffer& out, RequestOutput& filtered)
      : m_writer(writer), m_out(out), m_filtered(filtered) {}

  void Queued(const Request& r) override {
    Login();
    RecordMark& m = m_writer.NextMark();
    m.end.store(m.start, std::memory_order_relaxed);
    m.conn = r.conn;
    m.step = kStepQueued;
    m.key = r.firstFrame;
    m_writer.PublishMark();
    m_queued = &r;
    m_queuedEvent = m.event;
  }

  void Write(const Request& r) override {
    Login();
    RecordMark& m = m_writer.NextMark();
    m.end.store(kOpenEnd, std::memory_order_relaxed);
    m.conn = r.conn;
    m.step = kStepWritten;
    m.key = r.firstFrame;
    m.cut = kOpenEnd;
    m.split = kOpenEnd;
    m_writer.PublishMark();
    m_mark = &m;
    m_fingerprint = nullptr;
    m_filtered.Write(r);
    if (m_fingerprint) {
      m.split = m_writer.position();
      PutPiece(m_out, m_fingerprint->name);
      PutPiece(m_out, m_fingerprint->text);
    } else if (m.split == kOpenEnd) {
      m.split = m_writer.position();
    }
    m_mark = nullptr;
    m.end.store(m_writer.position(), std::memory_order_release);
  }
  // The summary is the merger's.
  void Finish() override {}

  void Fingerprint(const Request& r) override {
    m_mark->cut = m_writer.position();
    m_fingerprint = &r;
  }

  void Tally(const Request& r, const std::string& day, bool timed, int64_t us,
             const std::string* slowLine) override {
    m_mark->split = m_writer.position();
    const uint8_t head[2] = {static_cast<uint8_t>(r.kind), static_cast<uint8_t>(timed ? 1 : 0)};
    m_out.put(reinterpret_cast<const char*>(head), 2);
    PutLong(m_out, us);
    PutPiece(m_out, day);
    if (slowLine)
      PutPiece(m_out, *slowLine);
    else
      PutWord(m_out, kNoPiece);
    // Each error with its text: the summary shows the text of the first of each number in the
    // whole log, which need not be the first this worker wrote.
    PutWord(m_out, static_cast<uint32_t>(r.errors.size()));
    for (const ServerMessage& e : r.errors) {
      PutLong(m_out, e.number);
      PutPiece(m_out, e.text);
    }
  }

  void BeforePublish() override { Login(); }

 private:
  // A login changes who its connection names, which records written before show: the merger
  // is told, at the step of the login.
  void Login() {
    if (m_queued && m_queued->kind == RequestKind::kLogin) {
      RecordMark& m = m_writer.NextMark();
      m.event = m_queuedEvent;
      m.end.store(m.start, std::memory_order_relaxed);
      m.conn = m_queued->conn;
      m.step = kStepLogin;
      m_writer.PublishMark();
    }
    m_queued = nullptr;
  }

  ChannelWriter& m_writer;
  OutBuffer& m_out;
  RequestOutput& m_filtered;
  RecordMark* m_mark = nullptr;  // of the request being written
  const Request* m_fingerprint = nullptr;
  const Request* m_queued = nullptr;  // the latest request queued, until the next step
  uint64_t m_queuedEvent = 0;
};

}  // namespace

void RunMessageWorker(SharedRun& run, const WorkerTask& task) {
  RunWorkerWith(run, task,
                [&](ChannelWriter& writer, OutBuffer& out, int64_t& clock, HostStats& stats) {
                  MessageView view(task.parse, *task.options, out, stats, clock);
                  if (task.input) view.SetInput(task.input);
                  view.SetRecordHook(&writer);
                  DecodeInput(run, task, writer, out, view, clock, stats);
                });
}
void RunRequestWorker(SharedRun& run, const WorkerTask& task) {
  RunWorkerWith(run, task,
                [&](ChannelWriter& writer, OutBuffer& out, int64_t& clock, HostStats& stats) {
                  const Options& options = *task.options;
                  RequestFilter filter(options.slowUs, options.sinceUs, options.untilUs);
                  RequestWorkerLog log(writer, out, filter);
                  std::unique_ptr<RequestJsonWriter> json;
                  std::unique_ptr<RequestTextWriter> text;
                  if (options.format == OutputFormat::kJson) {
                    json.reset(new RequestJsonWriter(out));
                    json->SetParts(&log);
                    filter.Add(*json);
                  } else {
                    text.reset(new RequestTextWriter(out, task.width));
                    text->SetParts(&log);
                    filter.Add(*text);
                  }
                  RequestView view(task.parse, log, stats, clock, options);
                  view.SetQueueHook(&log);
                  writer.SetPublishHook(&log);
                  // Its channel fills slowly (its records are about a tenth of the message
                  // view's bytes). In JSON the merge writes them where they lie without reading
                  // them: it is woken at half a channel, not an eighth, and switches less. Text
                  // records it copies, best while the worker's cache still holds them; the
                  // message view's workers would wait for room.
                  writer.SetWakeShare(options.format == OutputFormat::kJson ? 2 : 8);
                  DecodeInput(run, task, writer, out, view, clock, stats);
                  writer.SetPublishHook(nullptr);
                });
}
