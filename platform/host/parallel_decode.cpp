#include "parallel_decode.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture_reader.h"
#include "connection_table.h"
#include "link_layer.h"
#include "message_render.h"
#include "message_view.h"
#include "progress.h"
#include "request_log.h"
#include "request_outputs.h"
#include "request_render.h"
#include "request_view.h"
#include "stop_signal.h"
#include "worker_channel.h"
#include "worker_view.h"

namespace {

// The held-bytes ceiling of all workers together, shared out evenly.
constexpr size_t kHeldCeiling = size_t(64) << 20;
// A worker publishes how far it got at least this often (frames), and when this much output
// waits in its buffer.
constexpr uint64_t kPublishFrames = 512;
constexpr size_t kPublishBytes = size_t(256) << 10;
constexpr int kWaitMs = 100;

// ---- Worker side ----

// Writes a worker's records into its channel: the worker's output buffer is a window of the
// channel itself, so the bytes are rendered where the merger reads them; a mark per record.
class ChannelWriter : public MessageView::RecordHook {
 public:
  ChannelWriter(SharedRun& run, WorkerChannel& channel) : m_run(run), m_channel(channel) {}
  void Attach(const OutBuffer* out, const WorkerView* view) {
    m_out = out;
    m_view = view;
  }
  // The table whose size decides when the channel is halved (null: no longer).
  void Watch(const ConnectionTable* table) { m_table = table; }

  // The output buffer's next window, after `written` bytes of the last.
  static char* NextWindow(void* self, size_t written, size_t* capacity) {
    ChannelWriter& w = *static_cast<ChannelWriter*>(self);
    w.m_written += written;
    if (w.m_table && !w.m_shrunk && w.m_table->tracked() > kManyConnections)
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
  void Publish(OutBuffer& out, uint64_t event) {
    if (m_hook) m_hook->BeforePublish();
    out.flush();
    m_channel.progress.store(event, std::memory_order_release);
    Notify(false);
  }

 private:
  // The merger is woken when it has much to take, or a worker waits for it: each wake costs
  // both sides a switch.
  void Notify(bool urgent) {
    m_run.published.fetch_add(1, std::memory_order_seq_cst);
    if (!m_run.mergerWaiting.load(std::memory_order_seq_cst)) return;
    bool wake = urgent ||
                m_written - m_channel.dataTaken.load() >= m_channel.dataBytes.load() / m_wakeShare;
    for (unsigned w = 0; w < m_run.workers && !wake; ++w)
      wake = m_run.channel(w)->waiting.load(std::memory_order_seq_cst) != 0;
    if (wake) WakeWord(m_run.published);
  }

  // The channel is full: the merger is told what is there and waited for.
  void WaitForRoom() {
    const uint32_t seen = m_channel.freed.load(std::memory_order_seq_cst);
    m_channel.waiting.store(1, std::memory_order_seq_cst);
    Notify(true);
    WaitWord(m_channel.freed, seen, kWaitMs);
    m_channel.waiting.store(0, std::memory_order_seq_cst);
  }

  SharedRun& m_run;
  WorkerChannel& m_channel;
  const OutBuffer* m_out = nullptr;
  const WorkerView* m_view = nullptr;
  PublishHook* m_hook = nullptr;
  const ConnectionTable* m_table = nullptr;
  bool m_shrunk = false;
  uint64_t m_wakeShare = 8;
  RecordMark* m_open = nullptr;
  uint64_t m_written = 0;   // bytes written into the channel
  uint64_t m_markTail = 0;  // the merger's markTail, as last read
};

// What a worker needs to place a connection.
struct Placing {
  SharedRun* run;
  unsigned index;
  ChannelWriter* writer;
  OutBuffer* out;
  WorkerView* view;

  static bool Owns(void* self, uint32_t conn) {
    Placing& p = *static_cast<Placing*>(self);
    return TakeConnection(*p.run, p.index, conn, &Placing::Waiting, self);
  }
  // Before a pause for the others, what this worker made is published, so that nobody waits
  // on it in turn.
  static void Waiting(void* self) {
    Placing& p = *static_cast<Placing*>(self);
    p.writer->Publish(*p.out, p.view->event() - 1);
  }
};

struct WorkerTask {
  const std::string* path;
  const char* input;
  unsigned index;
  const Options* options;
  TdsParseMessageFn parse;
  size_t width;  // of the request log's text lines
};

// Reads the input to its end, decoding the connections this worker owns with `view`; the
// worker's results go to its channel.
template <typename ViewType>
void ReadInput(SharedRun& run, const WorkerTask& task, ChannelWriter& writer, OutBuffer& out,
               ViewType& view, int64_t& clock, HostStats& stats) {
  Placing placing{&run, task.index, &writer, &out, nullptr};
  WorkerView workers(view, &Placing::Owns, &placing, kHeldCeiling / run.workers);
  placing.view = &workers;
  writer.Attach(&out, &workers);
  WorkerChannel& channel = *run.channel(task.index);
  const Options& options = *task.options;
  std::string error;
  std::unique_ptr<CaptureSource> source = CaptureSource::Open(*task.path, error, options.filter);
  if (!source) {
    std::snprintf(channel.error, sizeof(channel.error), "%s", error.c_str());
  } else {
    TableLimits limits;
    limits.countSinkBytes = false;  // WorkerView's sinks hold nothing the table counts
    ConnectionTable table(options, workers, stats, limits);
    writer.Watch(&table);
    std::unique_ptr<Progress> progress;
    if (task.index == 0) progress.reset(new Progress(*source));
    InputFrame input;
    TcpSegment segment;
    uint64_t frame = 0;
    while (!StopRequested() && !run.stop.load(std::memory_order_relaxed) &&
           !(options.count && stats.framesRead >= options.count) && source->Next(input)) {
      ++frame;
      clock = input.timeUs;
      FeedFrame(input, frame, table, segment, stats);
      if (progress) progress->Tick(frame);
      if (frame % kPublishFrames == 0 || out.pending() >= kPublishBytes)
        writer.Publish(out, workers.event());
    }
    if (progress) progress->Done();
    table.EndAll(frame);
    writer.Watch(nullptr);
    view.EndAll();
    if (!source->error().empty())
      std::snprintf(channel.error, sizeof(channel.error), "%s", source->error().c_str());
  }
  channel.cutConnections = workers.cutConnections();
  channel.cutBytes = workers.cutBytes();
  writer.Publish(out, UINT64_MAX);
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
  ChannelWriter writer(run, channel);
  HostStats stats;
  {
    OutBuffer out(&ChannelWriter::NextWindow, &writer);
    int64_t clock = 0;
    decode(writer, out, clock, stats);
  }
  EndWorker(run, channel, stats);
}

void RunWorker(SharedRun& run, const WorkerTask& task) {
  RunWorkerWith(run, task,
                [&](ChannelWriter& writer, OutBuffer& out, int64_t& clock, HostStats& stats) {
                  MessageView view(task.parse, *task.options, out, stats, clock);
                  if (task.input) view.SetInput(task.input);
                  view.SetRecordHook(&writer);
                  ReadInput(run, task, writer, out, view, clock, stats);
                });
}

// Bytes of what a record tells the merge, after its text.
void PutWord(OutBuffer& out, uint32_t v) {
  out.put(reinterpret_cast<const char*>(&v), sizeof(v));
}
void PutLong(OutBuffer& out, int64_t v) {
  out.put(reinterpret_cast<const char*>(&v), sizeof(v));
}
void PutPiece(OutBuffer& out, std::string_view s) {
  PutWord(out, static_cast<uint32_t>(s.size()));
  out.put(s.data(), s.size());
}
constexpr uint32_t kNoPiece = UINT32_MAX;

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
                  ReadInput(run, task, writer, out, view, clock, stats);
                  writer.SetPublishHook(nullptr);
                });
}

// ---- Merger side ----

// Takes the workers' records in event order: a record is taken once no other worker can still
// make one of an earlier event. What taking does is the derived merger's.
class MergeLoop {
 public:
  MergeLoop(SharedRun& run, const std::vector<pid_t>& pids)
      : m_run(run), m_pids(pids), m_state(run.workers) {}
  virtual ~MergeLoop() = default;

  void Run() {
    while (!m_stopped) {
      const uint32_t seen = m_run.published.load(std::memory_order_seq_cst);
      if (Step()) continue;
      if (m_stopped || AllDone()) break;
      // Room is given back when a worker waits for it; otherwise the pieces wait for more.
      if (AnyWaiting()) Flush();
      m_run.mergerWaiting.store(1, std::memory_order_seq_cst);
      if (!Step() && !m_stopped && !AllDone()) {
        if (AnyWaiting()) Flush();
        if (!WaitWord(m_run.published, seen, kWaitMs)) CheckWorkers();
      }
      m_run.mergerWaiting.store(0, std::memory_order_seq_cst);
    }
    Flush();
  }
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
  void GiveRoom() {
    for (unsigned w = 0; w < m_run.workers; ++w) {
      WorkerChannel& c = *m_run.channel(w);
      const State& s = m_state[w];
      const uint64_t tail = RoomTail(w);
      if (c.dataTail.load(std::memory_order_relaxed) == tail &&
          c.dataTaken.load(std::memory_order_relaxed) == s.tail &&
          c.markTail.load(std::memory_order_relaxed) == s.markTail)
        continue;
      c.dataTail.store(tail, std::memory_order_release);
      c.dataTaken.store(s.tail, std::memory_order_release);
      c.markTail.store(s.markTail, std::memory_order_release);
      c.freed.fetch_add(1, std::memory_order_seq_cst);
      // A waiting worker is woken once a quarter of its channel is free, not for every record:
      // each wake costs both sides a switch (it wakes by itself after kWaitMs anyway).
      const uint64_t ring = c.dataBytes.load();
      const uint64_t bytesFree = ring - (c.dataHead.load() - tail);
      const uint64_t marksFree = kChannelMarks - (c.markHead.load() - s.markTail);
      if (c.waiting.load(std::memory_order_seq_cst) &&
          (bytesFree >= ring / 4 || marksFree >= kChannelMarks / 4))
        WakeWord(c.freed);
    }
  }
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

 private:
  bool AnyWaiting() {
    for (unsigned w = 0; w < m_run.workers; ++w)
      if (m_run.channel(w)->waiting.load(std::memory_order_seq_cst)) return true;
    return false;
  }
  bool Done(unsigned w) {
    return m_state[w].gone || m_run.channel(w)->done.load(std::memory_order_acquire);
  }
  bool AllDone() {
    for (unsigned w = 0; w < m_run.workers; ++w) {
      WorkerChannel& c = *m_run.channel(w);
      if (!Done(w) || m_state[w].markTail < c.markHead.load(std::memory_order_acquire))
        return false;
    }
    return true;
  }
  // The head mark of worker w, or null (then the worker's markHead has just been read).
  RecordMark* Head(unsigned w) {
    WorkerChannel& c = *m_run.channel(w);
    State& s = m_state[w];
    if (s.markTail >= s.marks) {
      s.marks = c.markHead.load(std::memory_order_acquire);
      if (s.markTail >= s.marks) return nullptr;
    }
    return &c.marks[s.markTail % kChannelMarks];
  }
  // Whether worker w may still make a record of an event before `event`.
  bool MayPrecede(unsigned w, uint64_t event) {
    if (RecordMark* m = Head(w)) return m->event < event;
    // No mark: its progress says. A null head read markHead after any progress read before,
    // so every record up to that progress has been taken.
    State& s = m_state[w];
    if (s.progress >= event) return false;
    // Read in this order: done, progress, then the marks, so that a mark published before
    // either is seen. (Two workers' events only meet when a stop cut their reading at
    // different frames: the lower worker's record goes first.)
    const bool done = Done(w);
    s.progress = m_run.channel(w)->progress.load(std::memory_order_acquire);
    if (RecordMark* m = Head(w)) return m->event < event;
    return !done && s.progress < event;
  }

  // Takes what can be taken of the next record in order; false when nothing could be.
  bool Step() {
    if (m_stopped) return false;
    unsigned best = m_run.workers;
    RecordMark* mark = nullptr;
    for (unsigned w = 0; w < m_run.workers; ++w) {
      RecordMark* m = Head(w);
      if (m && (!mark || m->event < mark->event)) {
        best = w;
        mark = m;
      }
    }
    if (!mark) return false;
    // No other worker may still make a record of an earlier event.
    for (unsigned w = 0; w < m_run.workers; ++w)
      if (w != best && MayPrecede(w, mark->event)) return false;
    return Take(best, *mark);
  }

  // A worker that ended without finishing (killed, crashed) counts as done.
  void CheckWorkers() {
    for (unsigned w = 0; w < m_run.workers; ++w) {
      if (Done(w) || m_pids[w] <= 0) continue;
      int status = 0;
      if (waitpid(m_pids[w], &status, WNOHANG) == m_pids[w]) {
        m_pids[w] = -1;
        if (!m_run.channel(w)->done.load()) {
          m_state[w].gone = true;
          m_state[w].markTail = m_run.channel(w)->markHead.load();
          m_error = "a decoding worker ended unexpectedly";
          if (WIFSIGNALED(status)) m_error += std::string(" (") + strsignal(WTERMSIG(status)) + ")";
          m_run.stop.store(1);
        }
      }
    }
  }
};

// Writes the pieces to standard output as they are: 0, or the system's error number.
int WriteOut(struct iovec* pieces, size_t count) {
  size_t i = 0;
  while (i < count) {
    const ssize_t n = writev(STDOUT_FILENO, pieces + i, static_cast<int>(count - i));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    size_t left = static_cast<size_t>(n);
    while (i < count && left >= pieces[i].iov_len) left -= pieces[i++].iov_len;
    if (i < count) {
      pieces[i].iov_base = static_cast<char*>(pieces[i].iov_base) + left;
      pieces[i].iov_len -= left;
    }
  }
  return 0;
}

// Writes the workers' records to standard output in event order, numbering the messages.
class Merger : public MergeLoop {
 public:
  Merger(SharedRun& run, const std::vector<pid_t>& pids, bool json, OutBuffer& out)
      : MergeLoop(run, pids), m_json(json), m_out(out) {}

 private:
  bool Take(unsigned w, RecordMark& mark) override {
    WorkerChannel& c = *m_run.channel(w);
    State& s = m_state[w];
    const uint64_t end = mark.end.load(std::memory_order_acquire);
    const uint64_t head = DataHead(w, end);
    if (s.tail < mark.start) s.tail = mark.start;  // nothing goes between records; never skips
    bool took = false;
    if (!s.numbered) {
      Number(mark);
      s.numbered = true;
      took = true;
    }
    const uint64_t until = end < head ? end : head;
    if (s.tail < until) {
      // One piece, however it lies in the ring (the ring is mapped twice in a row).
      Queue(c.at(s.tail), static_cast<size_t>(until - s.tail));
      s.tail = until;
      took = true;
    }
    if (end != kOpenEnd && s.tail >= end) {
      ++s.markTail;
      s.numbered = false;
      took = true;
    }
    if (m_count >= kMaxPieces - 2) Flush();
    return took;
  }

  // The record's number: the next one for a record that starts a message, else that of the
  // message its direction is in the middle of.
  void Number(const RecordMark& mark) {
    const uint64_t key = uint64_t(mark.conn) << 1 | ((mark.flags & kMarkServer) ? 1 : 0);
    uint64_t number;
    if (mark.flags & kMarkNewNumber) {
      number = ++m_messages;
      if (!(mark.flags & kMarkLastPart)) m_inParts[key] = number;
    } else {
      auto it = m_inParts.find(key);
      number = it != m_inParts.end() ? it->second : ++m_messages;
      if ((mark.flags & kMarkLastPart) && it != m_inParts.end()) m_inParts.erase(it);
    }
    if (m_count == kMaxPieces) Flush();
    // The lead and the number, written backwards from the end of the piece's room.
    char* const end = m_numbers[m_count] + kNumberRoom;
    char* at = end;
    do {
      *--at = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    const std::string_view lead = m_json ? std::string_view("{\"message\": ") : "Message ";
    at -= lead.size();
    std::memcpy(at, lead.data(), lead.size());
    Queue(at, static_cast<size_t>(end - at));
  }

  void Queue(const char* data, size_t size) {
    if (m_count == kMaxPieces) Flush();
    m_pieces[m_count].iov_base = const_cast<char*>(data);
    m_pieces[m_count].iov_len = size;
    ++m_count;
  }

  // Writes the queued pieces, then gives their room back to the workers.
  void Flush() override {
    if (!m_out.failed()) {
      const int error = WriteOut(m_pieces, m_count);
      if (error) {
        m_out.fail(error);
        m_run.stop.store(1);
      }
    }
    m_count = 0;
    GiveRoom();
  }

  static constexpr size_t kMaxPieces = 64;
  static constexpr size_t kNumberRoom = 40;

  bool m_json;
  OutBuffer& m_out;
  uint64_t m_messages = 0;
  std::unordered_map<uint64_t, uint64_t> m_inParts;  // (conn, dir) of messages shown in parts
  struct iovec m_pieces[kMaxPieces];
  char m_numbers[kMaxPieces][kNumberRoom];
  size_t m_count = 0;
};

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

// Reads what a written request's record tells the merge (RequestWorkerLog).
class Told {
 public:
  Told(const char* at, const char* end) : m_at(at), m_end(end) {}
  uint8_t Byte() { return m_at < m_end ? static_cast<uint8_t>(*m_at++) : 0; }
  uint32_t Word() { return Fixed<uint32_t>(); }
  int64_t Long() { return Fixed<int64_t>(); }
  // False when the piece is not there (kNoPiece).
  bool Piece(std::string_view& s) {
    const uint32_t size = Word();
    if (size == kNoPiece) return false;
    const size_t n = std::min<size_t>(size, static_cast<size_t>(m_end - m_at));
    s = std::string_view(m_at, n);
    m_at += n;
    return true;
  }

 private:
  template <typename T>
  T Fixed() {
    T v{};
    if (m_end - m_at >= static_cast<ptrdiff_t>(sizeof(T))) std::memcpy(&v, m_at, sizeof(T));
    m_at += sizeof(T);
    if (m_at > m_end) m_at = m_end;
    return v;
  }
  const char* m_at;
  const char* m_end;
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
  void Finish() {
    if (StopRequested()) {
      for (Node* n : m_queue)
        if (n->ready) Emit(*n);
    } else if (m_error.empty() && !m_out.failed() && !m_queue.empty()) {
      Diverge();
    }
    WritePieces();
  }
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
  // Nodes and kept records kept for reuse, and the largest record one keeps room for (at most
  // 16 MiB kept).
  static constexpr size_t kSpareNodes = 1024;
  static constexpr size_t kSpareBytes = size_t(16) << 10;
  static constexpr uint64_t kMarksPerRoom = 64;

  bool Take(unsigned w, RecordMark& mark) override {
    State& s = m_state[w];
    if (m_out.failed()) {
      // Standard output cannot be written: the workers stop.
      Stop();
      return false;
    }
    bool took = true;
    switch (mark.step) {
      case kStepQueued: {
        Node* n = NewNode();
        n->key = mark.key;
        n->conn = mark.conn;
        Insert(m_queue, n);
        Insert(m_local[w], n);
        ++s.markTail;
        break;
      }
      case kStepLogin: {
        if (m_readyByConn.Has(mark.conn)) return Diverge();
        ++s.markTail;
        break;
      }
      case kStepWritten:
        took = Written(w, mark);
        break;
      default:
        return Diverge();
    }
    if (m_queue.size() > kMaxRequestsWaiting) return Diverge();
    if (++m_taken % kMarksPerRoom == 0) Flush();
    return took;
  }

  bool Written(unsigned w, RecordMark& mark) {
    WorkerChannel& c = *m_run.channel(w);
    State& s = m_state[w];
    std::deque<Node*>& local = m_local[w];
    if (local.empty() || local.front()->key != mark.key || local.front()->conn != mark.conn)
      return Diverge();
    Node* n = local.front();
    const uint64_t end = mark.end.load(std::memory_order_acquire);
    const uint64_t head = DataHead(w, end);
    if (s.tail < mark.start) s.tail = mark.start;
    const bool complete = end != kOpenEnd && head >= end;
    if (complete && !s.numbered && m_queue.front() == n) {
      // The earliest of all: written at once, from the channel.
      // (Its bytes stay in the channel until written: room is given back after that.)
      const char* base = c.at(mark.start);
      Emit(base, mark.cut == kOpenEnd ? kNoCut : mark.cut - mark.start, mark.split - mark.start,
           end - mark.start, n->conn);
      s.tail = end;
      local.pop_front();
      m_queue.pop_front();
      Recycle(n);
    } else if (complete && !s.numbered) {
      // Whole in the channel: it stays there until the requests before it are written.
      n->kept = NewKept();
      Kept& k = *n->kept;
      k.inPlace = true;
      k.worker = w;
      k.start = mark.start;
      k.cut = mark.cut == kOpenEnd ? kNoCut : static_cast<size_t>(mark.cut - mark.start);
      k.split = static_cast<size_t>(mark.split - mark.start);
      k.end = static_cast<size_t>(end - mark.start);
      n->ready = true;
      s.tail = end;
      local.pop_front();
      m_readyByConn.Add(n->conn);
      m_inPlace[w].push_back(n);
    } else {
      // Kept until the requests before it are written (`numbered`: some of it is kept).
      const uint64_t until = end < head ? end : head;
      bool took = false;
      if (!n->kept) n->kept = NewKept();
      if (s.tail < until) {
        n->kept->bytes.append(c.at(s.tail), static_cast<size_t>(until - s.tail));
        s.tail = until;
        s.numbered = true;
        took = true;
      }
      if (!complete) return took;
      n->kept->cut = mark.cut == kOpenEnd ? kNoCut : static_cast<size_t>(mark.cut - mark.start);
      n->kept->split = static_cast<size_t>(mark.split - mark.start);
      n->ready = true;
      local.pop_front();
      m_readyByConn.Add(n->conn);
    }
    s.numbered = false;
    ++s.markTail;
    WriteReady();
    return true;
  }

  // The earliest requests that are ready, in order.
  void WriteReady() {
    while (!m_queue.empty() && m_queue.front()->ready) {
      Node* n = m_queue.front();
      m_queue.pop_front();
      m_readyByConn.Remove(n->conn);
      if (Emit(*n))
        m_written.push_back(n);  // recycled once its bytes are written
      else
        Recycle(n);
    }
  }

  // A record: [0, cut) and [cut, split) its text, the fingerprint going at cut (kNoCut: none),
  // [split, end) what it tells the merge. Empty: the filter passed the request over. True when
  // the record's text was queued where it lies: those bytes stay until WritePieces().
  bool Emit(const char* base, size_t cut, size_t split, size_t end, uint32_t conn) {
    if (end == 0) return false;
    ++m_shown;
    Told told(base + split, base + end);
    if (m_jsonLog) {
      if (cut == kNoCut) {
        // The number goes through the writer's buffer; the text is written from where it lies
        // (the channel or the node that kept it), not copied once more.
        if (m_out.room() < kLeadRoom || m_count + 2 > kMaxPieces) WritePieces();
        m_jsonLog->PutNumber();
        QueueLead();
        m_pieces[m_count++] = iovec{const_cast<char*>(base), split};
        return true;
      }
      // The fingerprint may be long: it and the record go through the buffer.
      WritePieces();
      m_jsonLog->PutNumber();
      m_out.put(base, cut);
      std::string_view name, text;
      told.Piece(name);
      told.Piece(text);
      m_fake.conn = conn;
      m_fake.name.assign(name.data(), name.size());
      m_fake.text.assign(text.data(), text.size());
      m_jsonLog->PutFingerprint(m_fake);
      m_out.put(base + cut, split - cut);
      return false;
    }
    if (!m_textLog) return false;
    const RequestKind kind = static_cast<RequestKind>(told.Byte());
    const bool timed = told.Byte() != 0;
    const int64_t us = told.Long();
    std::string_view day, slow;
    told.Piece(day);
    m_day.assign(day.data(), day.size());
    m_textLog->Lead(m_day);
    m_out.put(base, split);
    if (!told.Piece(slow)) slow = std::string_view();
    m_textLog->Tally(kind, timed, us, slow);
    for (uint32_t errors = told.Word(); errors > 0; --errors) {
      const int64_t number = told.Long();
      std::string_view errorText;
      told.Piece(errorText);
      m_textLog->CountError(number, errorText);
    }
    return false;
  }

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
  void WritePieces() {
    if (m_count > 0) {
      QueueLead();
      char* start = m_out.cursor() - m_out.pending();
      std::fflush(stdout);  // what the buffer wrote before goes first
      if (!m_out.failed()) {
        const int error = WriteOut(m_pieces, m_count);
        if (error) {
          m_out.fail(error);
          Stop();
        }
      }
      m_out.commit(start);  // all of it was in the pieces
      m_count = 0;
      m_leadFrom = 0;
    }
    for (Node* n : m_written) Recycle(n);
    m_written.clear();
  }

  // As the tracker places a request in its queue: after every one with a first frame not later.
  static void Insert(std::deque<Node*>& queue, Node* n) {
    auto at = queue.end();
    while (at != queue.begin() && (*(at - 1))->key > n->key) --at;
    queue.insert(at, n);
  }

  // A ready record, as Emit() takes it. A record in place leaves the worker's held records: its
  // room is given back after the pieces are written.
  bool Emit(Node& n) {
    Kept& k = *n.kept;
    if (k.inPlace) {
      std::deque<Node*>& held = m_inPlace[k.worker];
      const auto at = std::find(held.begin(), held.end(), &n);  // the first, in stream order
      if (at != held.end()) held.erase(at);
      k.inPlace = false;
      return Emit(m_run.channel(k.worker)->at(k.start), k.cut, k.split, k.end, n.conn);
    }
    return Emit(k.bytes.data(), k.cut, k.split, k.bytes.size(), n.conn);
  }

  // Records held in place are copied out, the earliest first, while they hold more than half of
  // a worker's channel, or any of it when the worker waits for room.
  void CopyOut() {
    for (unsigned w = 0; w < m_run.workers; ++w) {
      WorkerChannel& c = *m_run.channel(w);
      std::deque<Node*>& held = m_inPlace[w];
      const bool waiting = c.waiting.load(std::memory_order_relaxed) != 0;
      while (!held.empty() &&
             (waiting || m_state[w].tail - held.front()->kept->start > c.dataBytes.load() / 2)) {
        Kept& k = *held.front()->kept;
        held.pop_front();
        k.bytes.assign(c.at(k.start), k.end);
        k.inPlace = false;
      }
    }
  }
  uint64_t RoomTail(unsigned w) const override {
    return m_inPlace[w].empty() ? m_state[w].tail : m_inPlace[w].front()->kept->start;
  }

  Node* NewNode() {
    if (m_spare.empty()) return new Node;
    Node* n = m_spare.back().release();
    m_spare.pop_back();
    n->ready = false;
    return n;
  }
  std::unique_ptr<Kept> NewKept() {
    if (m_spareKept.empty()) return std::unique_ptr<Kept>(new Kept);
    std::unique_ptr<Kept> k = std::move(m_spareKept.back());
    m_spareKept.pop_back();
    k->bytes.clear();
    k->inPlace = false;
    return k;
  }
  void Recycle(Node* n) {
    if (n->kept && m_spareKept.size() < kSpareNodes && n->kept->bytes.capacity() <= kSpareBytes)
      m_spareKept.push_back(std::move(n->kept));
    n->kept.reset();
    if (m_spare.size() < kSpareNodes)
      m_spare.emplace_back(n);
    else
      delete n;
  }

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

// The counters of the connection table, the same in every worker, and those of the view, which
// each worker keeps for the connections it decodes.
constexpr uint64_t HostStats::*kTableCounters[] = {
    &HostStats::framesRead,           &HostStats::framesTooShort, &HostStats::tcpPayloadSegments,
    &HostStats::segmentsCutByCapture, &HostStats::tcpConnections, &HostStats::tdsConnections,
    &HostStats::connectionsEvicted,   &HostStats::connectionsCut, &HostStats::bytesCut,
    &HostStats::bytesSkipped,         &HostStats::heldBytesAtEnd, &HostStats::heldBytesAtGaps};
constexpr uint64_t StreamCounters::*kStreamCounters[] = {&StreamCounters::retransmittedBytes,
                                                         &StreamCounters::outOfOrderSegments,
                                                         &StreamCounters::gaps};
constexpr uint64_t HostStats::*kViewCounters[] = {
    &HostStats::framesDecoded, &HostStats::framesCutShort, &HostStats::formatRecordsRefused};

// A worker's counters into the run's: the table's once, the view's from each.
void AddWorkerStats(HostStats& into, const WorkerChannel& channel, bool first) {
  const HostStats& w = channel.stats;
  if (first) {
    for (auto counter : kTableCounters) into.*counter += w.*counter;
    for (auto counter : kStreamCounters) into.stream.*counter += w.stream.*counter;
  }
  for (auto counter : kViewCounters) into.*counter += w.*counter;
  into.connectionsCut += channel.cutConnections;
  into.bytesCut += channel.cutBytes;
  MessageStats& m = into.messageView;
  const MessageStats& f = w.messageView;
  m.used = m.used || f.used;
  for (int dir = 0; dir < 2; ++dir) {
    for (int t = 0; t < 256; ++t) {
      m.messages[dir][t] += f.messages[dir][t];
      m.packets[dir][t] += f.packets[dir][t];
      m.tokens[dir][t] += f.tokens[dir][t];
    }
    m.records[dir] += f.records[dir];
  }
  for (int t = 0; t < 256; ++t) {
    if (!m.tokenName[t]) m.tokenName[t] = f.tokenName[t];
    if (!m.tokenText[t]) m.tokenText[t] = f.tokenText[t];
  }
  m.messagesCutShort += f.messagesCutShort;
  m.messagesInParts += f.messagesInParts;
  m.messagesEndedEarly += f.messagesEndedEarly;
  m.tokensRefused += f.tokensRefused;
  m.bytesPassedOver += f.bytesPassedOver;
}

}  // namespace

namespace {

// Starts `workers` worker processes running `work`; false when too few could be started (those
// started are stopped again).
bool StartWorkers(SharedRun& run, unsigned workers, const WorkerTask& task,
                  void (*work)(SharedRun&, const WorkerTask&), std::vector<pid_t>& pids) {
  const pid_t parent = getpid();
  for (unsigned i = 0; i < workers; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      // A worker ends with the process that merges its records, however that one ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      WorkerTask mine = task;
      mine.index = i;
      work(run, mine);
      _exit(0);
    }
    if (pid < 0) {
      // Too few processes: the ones started are stopped, and one worker decodes.
      for (pid_t p : pids) kill(p, SIGKILL);
      for (pid_t p : pids) waitpid(p, nullptr, 0);
      pids.clear();
      return false;
    }
    pids.push_back(pid);
  }
  return true;
}

// The input's error, else the merger's.
void TakeErrors(const std::string& path, SharedRun& run, const MergeLoop& merger,
                ParallelOutcome& outcome) {
  const char* error = run.channel(0)->error;
  if (*error) {
    outcome.inputOk = false;
    outcome.error = error;
  } else if (!merger.error().empty()) {
    outcome.inputOk = false;
    outcome.error = InputName(path) + ": " + merger.error();
  }
}

// Maps the run and starts `workers` workers on the task; null when they could not be started.
// The workers decode with `workerOptions`: `options`, with -c counting frames over all inputs.
SharedRun* StartRun(unsigned workers, size_t channelBytes, const Options& options,
                    const HostStats& stats, WorkerTask task,
                    void (*work)(SharedRun&, const WorkerTask&), Options& workerOptions,
                    OutBuffer& out, std::vector<pid_t>& pids) {
  SharedRun* run = MapSharedRun(workers, channelBytes);
  if (!run) return nullptr;
  workerOptions = options;
  if (options.count) workerOptions.count = options.count - stats.framesRead;
  task.options = &workerOptions;
  out.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  if (!StartWorkers(*run, workers, task, work, pids)) {
    UnmapSharedRun(run);
    return nullptr;
  }
  return run;
}

}  // namespace

ParallelOutcome DecodeInParallel(const std::string& path, const char* input, unsigned workers,
                                 const Options& options, TdsParseMessageFn parse, HostStats& stats,
                                 OutBuffer& out) {
  ParallelOutcome outcome;
  Options workerOptions;
  std::vector<pid_t> pids;
  SharedRun* run = StartRun(workers, kMessageChannelBytes, options, stats,
                            WorkerTask{&path, input, 0, nullptr, parse, 0}, &RunWorker,
                            workerOptions, out, pids);
  if (!run) return outcome;
  outcome.started = true;
  Merger merger(*run, pids, options.format == OutputFormat::kJson, out);
  merger.Run();
  for (pid_t p : pids) waitpid(p, nullptr, 0);
  for (unsigned i = 0; i < workers; ++i) AddWorkerStats(stats, *run->channel(i), i == 0);
  TakeErrors(path, *run, merger, outcome);
  UnmapSharedRun(run);
  return outcome;
}

ParallelOutcome DecodeRequestsInParallel(const std::string& path, unsigned workers,
                                         const Options& options, TdsParseMessageFn parse,
                                         RequestOutputs& outputs, HostStats& stats,
                                         OutBuffer& out) {
  ParallelOutcome outcome;
  Options workerOptions;
  std::vector<pid_t> pids;
  SharedRun* run = StartRun(workers, kRequestChannelBytes, options, stats,
                            WorkerTask{&path, nullptr, 0, nullptr, parse, outputs.width()},
                            &RunRequestWorker, workerOptions, out, pids);
  if (!run) return outcome;
  outcome.started = true;
  // What the fingerprints of this input's dynamic requests take for their connections: one
  // identity per input (connection numbers begin again with each), kept for the whole run, as
  // the statements remembered point to it.
  static std::vector<std::shared_ptr<const ConnectionInfo>> identities;
  identities.push_back(std::make_shared<ConnectionInfo>());
  RequestMerger merger(*run, pids, outputs, out, identities.back());
  merger.Run();
  merger.Finish();
  if (merger.diverged() && !StopRequested()) {
    // Decoded again on one worker, after the records written.
    for (pid_t p : pids) kill(p, SIGKILL);
    for (pid_t p : pids) waitpid(p, nullptr, 0);
    outcome.rerun = true;
    outcome.shown = merger.shown();
    UnmapSharedRun(run);
    return outcome;
  }
  for (pid_t p : pids) waitpid(p, nullptr, 0);
  for (unsigned i = 0; i < workers; ++i) AddWorkerStats(stats, *run->channel(i), i == 0);
  TakeErrors(path, *run, merger, outcome);
  UnmapSharedRun(run);
  return outcome;
}
