#include "parallel_decode.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "capture_reader.h"
#include "connection_table.h"
#include "link_layer.h"
#include "message_render.h"
#include "message_view.h"
#include "progress.h"
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

  // The output buffer's next window, after `written` bytes of the last.
  static char* NextWindow(void* self, size_t written, size_t* capacity) {
    ChannelWriter& w = *static_cast<ChannelWriter*>(self);
    w.m_written += written;
    w.m_channel.dataHead.store(w.m_written, std::memory_order_release);
    while (kChannelBytes - (w.m_written - w.m_channel.dataTail.load(std::memory_order_acquire)) <
           kWindowBytes)
      w.WaitForRoom();
    *capacity = kWindowBytes;
    return w.m_channel.data + w.m_written % kChannelBytes;
  }

  void Begin(uint32_t conn, bool clientToServer, bool newNumber, bool lastPart) override {
    const uint64_t head = m_channel.markHead.load(std::memory_order_relaxed);
    if (head - m_channel.markTail.load(std::memory_order_acquire) >= kChannelMarks) {
      // Full: wait until a quarter is free again, so as not to wake the merger per record.
      while (head - m_channel.markTail.load(std::memory_order_acquire) > kChannelMarks * 3 / 4)
        WaitForRoom();
    }
    RecordMark& m = m_channel.marks[head % kChannelMarks];
    m.event = m_view->event();
    m.start = m_written + m_out->pending();
    m.end.store(kOpenEnd, std::memory_order_relaxed);
    m.conn = conn;
    m.flags =
        static_cast<uint8_t>((newNumber ? kMarkNewNumber : 0) | (lastPart ? kMarkLastPart : 0) |
                             (clientToServer ? 0 : kMarkServer));
    m_open = &m;
    m_channel.markHead.store(head + 1, std::memory_order_release);
  }
  void End() override {
    if (m_open) m_open->end.store(m_written + m_out->pending(), std::memory_order_release);
    m_open = nullptr;
  }

  // Everything made so far is in the channel, and every event up to `event` is done.
  void Publish(OutBuffer& out, uint64_t event) {
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
    bool wake = urgent || m_written - m_channel.dataTail.load() >= kChannelBytes / 8;
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
  RecordMark* m_open = nullptr;
  uint64_t m_written = 0;  // bytes written into the channel
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
};

void RunWorker(SharedRun& run, const WorkerTask& task) {
  WorkerChannel& channel = *run.channel(task.index);
  const Options& options = *task.options;
  ChannelWriter writer(run, channel);
  HostStats stats;
  {
    OutBuffer out(&ChannelWriter::NextWindow, &writer);
    int64_t clock = 0;
    MessageView view(task.parse, options, out, stats, clock);
    if (task.input) view.SetInput(task.input);
    Placing placing{&run, task.index, &writer, &out, nullptr};
    WorkerView workers(view, &Placing::Owns, &placing, kHeldCeiling / run.workers);
    placing.view = &workers;
    writer.Attach(&out, &workers);
    view.SetRecordHook(&writer);
    std::string error;
    std::unique_ptr<CaptureSource> source = CaptureSource::Open(*task.path, error, options.filter);
    if (!source) {
      std::snprintf(channel.error, sizeof(channel.error), "%s", error.c_str());
    } else {
      ConnectionTable table(options, workers, stats);
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
      view.EndAll();
      if (!source->error().empty())
        std::snprintf(channel.error, sizeof(channel.error), "%s", source->error().c_str());
    }
    channel.cutConnections = workers.cutConnections();
    channel.cutBytes = workers.cutBytes();
    writer.Publish(out, UINT64_MAX);
  }
  channel.stats = stats;
  channel.done.store(1, std::memory_order_seq_cst);
  run.published.fetch_add(1, std::memory_order_seq_cst);
  WakeWord(run.published);
}

// ---- Merger side ----

// Writes the workers' records to standard output in event order, numbering the messages.
class Merger {
 public:
  Merger(SharedRun& run, const std::vector<pid_t>& pids, bool json, OutBuffer& out)
      : m_run(run), m_pids(pids), m_json(json), m_out(out), m_state(run.workers) {}

  void Run() {
    while (true) {
      const uint32_t seen = m_run.published.load(std::memory_order_seq_cst);
      if (Step()) continue;
      if (AllDone()) break;
      // Room is given back when a worker waits for it; otherwise the pieces wait for more.
      if (AnyWaiting()) Flush();
      m_run.mergerWaiting.store(1, std::memory_order_seq_cst);
      if (!Step() && !AllDone()) {
        if (AnyWaiting()) Flush();
        if (!WaitWord(m_run.published, seen, kWaitMs)) CheckWorkers();
      }
      m_run.mergerWaiting.store(0, std::memory_order_seq_cst);
    }
    Flush();
  }
  const std::string& error() const { return m_error; }

 private:
  struct State {
    uint64_t tail = 0;      // bytes taken (written or queued)
    uint64_t markTail = 0;  // marks taken
    bool numbered = false;  // the number of the head record is out
    bool gone = false;      // the worker ended without saying it was done
  };

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
  // The head mark of worker w, or null.
  RecordMark* Head(unsigned w) {
    WorkerChannel& c = *m_run.channel(w);
    if (m_state[w].markTail >= c.markHead.load(std::memory_order_acquire)) return nullptr;
    return &c.marks[m_state[w].markTail % kChannelMarks];
  }

  // Takes what can be taken of the next record in order; false when nothing could be.
  bool Step() {
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
    // No other worker may still make a record of an earlier event. Its progress is read
    // before its marks: a mark published before that progress is then seen.
    for (unsigned w = 0; w < m_run.workers; ++w) {
      if (w == best) continue;
      const bool done = Done(w);
      const uint64_t progress = m_run.channel(w)->progress.load(std::memory_order_acquire);
      if (RecordMark* m = Head(w)) {
        // Two workers' events only meet when a stop cut their reading at different frames;
        // the lower worker's record goes first.
        if (m->event >= mark->event) continue;
        return false;
      }
      if (done || progress >= mark->event) continue;
      return false;
    }
    return Take(best, *mark);
  }

  bool Take(unsigned w, RecordMark& mark) {
    WorkerChannel& c = *m_run.channel(w);
    State& s = m_state[w];
    const uint64_t end = mark.end.load(std::memory_order_acquire);
    const uint64_t head = c.dataHead.load(std::memory_order_acquire);
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
      Queue(c.data + s.tail % kChannelBytes, static_cast<size_t>(until - s.tail));
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
    char* text = m_numbers[m_count];
    const int n = std::snprintf(text, kNumberRoom, m_json ? "{\"message\": %llu" : "Message %llu",
                                static_cast<unsigned long long>(number));
    Queue(text, static_cast<size_t>(n));
  }

  void Queue(const char* data, size_t size) {
    if (m_count == kMaxPieces) Flush();
    m_pieces[m_count].iov_base = const_cast<char*>(data);
    m_pieces[m_count].iov_len = size;
    ++m_count;
  }

  // Writes the queued pieces, then gives their room back to the workers.
  void Flush() {
    size_t i = 0;
    while (i < m_count && !m_out.failed()) {
      const ssize_t n = writev(STDOUT_FILENO, m_pieces + i, static_cast<int>(m_count - i));
      if (n < 0) {
        if (errno == EINTR) continue;
        m_out.fail(errno);
        m_run.stop.store(1);
        break;
      }
      size_t left = static_cast<size_t>(n);
      while (i < m_count && left >= m_pieces[i].iov_len) left -= m_pieces[i++].iov_len;
      if (i < m_count) {
        m_pieces[i].iov_base = static_cast<char*>(m_pieces[i].iov_base) + left;
        m_pieces[i].iov_len -= left;
      }
    }
    m_count = 0;
    for (unsigned w = 0; w < m_run.workers; ++w) {
      WorkerChannel& c = *m_run.channel(w);
      const State& s = m_state[w];
      if (c.dataTail.load(std::memory_order_relaxed) == s.tail &&
          c.markTail.load(std::memory_order_relaxed) == s.markTail)
        continue;
      c.dataTail.store(s.tail, std::memory_order_release);
      c.markTail.store(s.markTail, std::memory_order_release);
      c.freed.fetch_add(1, std::memory_order_seq_cst);
      // A waiting worker is woken once a quarter of its channel is free, not for every record:
      // each wake costs both sides a switch (it wakes by itself after kWaitMs anyway).
      const uint64_t bytesFree = kChannelBytes - (c.dataHead.load() - s.tail);
      const uint64_t marksFree = kChannelMarks - (c.markHead.load() - s.markTail);
      if (c.waiting.load(std::memory_order_seq_cst) &&
          (bytesFree >= kChannelBytes / 4 || marksFree >= kChannelMarks / 4))
        WakeWord(c.freed);
    }
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

  static constexpr size_t kMaxPieces = 64;
  static constexpr size_t kNumberRoom = 40;

  SharedRun& m_run;
  std::vector<pid_t> m_pids;
  bool m_json;
  OutBuffer& m_out;
  std::vector<State> m_state;
  uint64_t m_messages = 0;
  std::unordered_map<uint64_t, uint64_t> m_inParts;  // (conn, dir) of messages shown in parts
  struct iovec m_pieces[kMaxPieces];
  char m_numbers[kMaxPieces][kNumberRoom];
  size_t m_count = 0;
  std::string m_error;
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

ParallelOutcome DecodeInParallel(const std::string& path, const char* input, unsigned workers,
                                 const Options& options, TdsParseMessageFn parse, HostStats& stats,
                                 OutBuffer& out) {
  ParallelOutcome outcome;
  SharedRun* run = MapSharedRun(workers);
  if (!run) return outcome;
  // -c counts frames over all inputs.
  Options workerOptions = options;
  if (options.count) workerOptions.count = options.count - stats.framesRead;
  out.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::vector<pid_t> pids;
  const pid_t parent = getpid();
  for (unsigned i = 0; i < workers; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      // A worker ends with the process that merges its records, however that one ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      const WorkerTask task{&path, input, i, &workerOptions, parse};
      RunWorker(*run, task);
      _exit(0);
    }
    if (pid < 0) {
      // Too few processes: the ones started are stopped, and one worker decodes.
      for (pid_t p : pids) kill(p, SIGKILL);
      for (pid_t p : pids) waitpid(p, nullptr, 0);
      UnmapSharedRun(run);
      return outcome;
    }
    pids.push_back(pid);
  }
  outcome.started = true;
  Merger merger(*run, pids, options.format == OutputFormat::kJson, out);
  merger.Run();
  for (pid_t p : pids) waitpid(p, nullptr, 0);
  for (unsigned i = 0; i < workers; ++i) AddWorkerStats(stats, *run->channel(i), i == 0);
  const char* error = run->channel(0)->error;
  if (*error) {
    outcome.inputOk = false;
    outcome.error = error;
  } else if (!merger.error().empty()) {
    outcome.inputOk = false;
    outcome.error = InputName(path) + ": " + merger.error();
  }
  UnmapSharedRun(run);
  return outcome;
}
