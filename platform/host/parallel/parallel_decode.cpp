#include "parallel/parallel_decode.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "input/capture_reader.h"
#include "input/stop_signal.h"
#include "parallel/message_merger.h"
#include "parallel/parallel_worker.h"
#include "parallel/request_merger.h"
#include "parallel/worker_channel.h"
#include "requests/request_outputs.h"

namespace {

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
    &HostStats::framesDecoded, &HostStats::framesCutShort, &HostStats::formatRecordsRefused,
    &HostStats::tdsPackets};

// A worker's counters into the run's: the table's once, the view's from each.
void AddWorkerStats(HostStats& into, const WorkerChannel& channel, bool first) {
  const HostStats& w = channel.stats;
  if (first) {
    for (auto counter : kTableCounters) into.*counter += w.*counter;
    for (auto counter : kStreamCounters) into.stream.*counter += w.stream.*counter;
  }
  for (auto counter : kViewCounters) into.*counter += w.*counter;
  for (int t = 0; t < 256; ++t) {
    into.messageTypes[t] += w.messageTypes[t];
    into.firstTokens[t] += w.firstTokens[t];
    if (!into.tokenText[t]) into.tokenText[t] = w.tokenText[t];
  }
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
    m.firstTokens[t] += f.firstTokens[t];
    if (!m.tokenName[t]) m.tokenName[t] = f.tokenName[t];
    if (!m.tokenText[t]) m.tokenText[t] = f.tokenText[t];
  }
  m.messagesCutShort += f.messagesCutShort;
  m.messagesInParts += f.messagesInParts;
  m.messagesEndedEarly += f.messagesEndedEarly;
  m.tokensRefused += f.tokensRefused;
  m.bytesPassedOver += f.bytesPassedOver;
}

// The worker processes of a run. A worker that is done waits until the main process has let go
// of the channels and closes `release`: the worker's exit, not the main process's unmapping,
// then frees the channels' memory, on another core, while the main process goes on.
struct Workers {
  std::vector<pid_t> pids;
  int release = -1;  // the write end of the pipe the workers wait on
};

// Released workers not yet waited for: reaped when they are found gone at the next start, and
// waited for at the end.
std::vector<pid_t> g_released;

void ReapReleased() {
  size_t kept = 0;
  for (pid_t p : g_released)
    if (waitpid(p, nullptr, WNOHANG) == 0) g_released[kept++] = p;
  g_released.resize(kept);
}

// Lets the workers end, once the main process has unmapped the run.
void ReleaseWorkers(Workers& workers) {
  if (workers.release >= 0) close(workers.release);
  workers.release = -1;
  g_released.insert(g_released.end(), workers.pids.begin(), workers.pids.end());
  workers.pids.clear();
}

// Ends the workers at once (the run is abandoned).
void StopWorkers(Workers& workers) {
  for (pid_t p : workers.pids) kill(p, SIGKILL);
  for (pid_t p : workers.pids) waitpid(p, nullptr, 0);
  workers.pids.clear();
  if (workers.release >= 0) close(workers.release);
  workers.release = -1;
}

// A worker that is done: waits until the main process closes the pipe, or ends.
[[noreturn]] void AwaitRelease(int fd) {
  char byte;
  while (read(fd, &byte, 1) < 0 && errno == EINTR) {
  }
  _exit(0);
}

// Starts `count` worker processes running `work`; false when too few could be started (those
// started are stopped again).
bool StartWorkers(SharedRun& run, unsigned count, const WorkerTask& task,
                  void (*work)(SharedRun&, const WorkerTask&), Workers& workers) {
  ReapReleased();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  workers.release = ends[1];
  const pid_t parent = getpid();
  for (unsigned i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      // A worker ends with the process that merges its records, however that one ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      close(ends[1]);
      WorkerTask mine = task;
      mine.index = i;
      work(run, mine);
      AwaitRelease(ends[0]);
    }
    if (pid < 0) {
      // Too few processes: the ones started are stopped, and one worker decodes.
      close(ends[0]);
      StopWorkers(workers);
      return false;
    }
    workers.pids.push_back(pid);
  }
  close(ends[0]);
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
SharedRun* StartRun(unsigned workers, const RunShape& shape, const Options& options,
                    const HostStats& stats, WorkerTask task,
                    void (*work)(SharedRun&, const WorkerTask&), Options& workerOptions,
                    OutBuffer& out, Workers& procs) {
  SharedRun* run = MapSharedRun(workers, shape);
  if (!run) return nullptr;
  workerOptions = options;
  if (options.count) workerOptions.count = options.count - stats.framesRead;
  task.options = &workerOptions;
  out.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  if (!StartWorkers(*run, workers, task, work, procs)) {
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
  Workers procs;
  SharedRun* run =
      StartRun(workers, kMessageRun, options, stats, WorkerTask{&path, input, 0, nullptr, parse, 0},
               &RunMessageWorker, workerOptions, out, procs);
  if (!run) return outcome;
  outcome.started = true;
  MessageMerger merger(*run, procs.pids, options.format == OutputFormat::kJson, out);
  merger.Run();
  for (unsigned i = 0; i < workers; ++i) AddWorkerStats(stats, *run->channel(i), i == 0);
  TakeErrors(path, *run, merger, outcome);
  UnmapSharedRun(run);
  ReleaseWorkers(procs);
  return outcome;
}

ParallelOutcome DecodeRequestsInParallel(const std::string& path, unsigned workers,
                                         const Options& options, TdsParseMessageFn parse,
                                         RequestOutputs& outputs, HostStats& stats,
                                         OutBuffer& out) {
  ParallelOutcome outcome;
  Options workerOptions;
  Workers procs;
  SharedRun* run = StartRun(workers, kRequestRun, options, stats,
                            WorkerTask{&path, nullptr, 0, nullptr, parse, outputs.width()},
                            &RunRequestWorker, workerOptions, out, procs);
  if (!run) return outcome;
  outcome.started = true;
  // What the fingerprints of this input's dynamic requests take for their connections: one
  // identity per input (connection numbers begin again with each), kept for the whole run, as
  // the statements remembered point to it.
  static std::vector<std::shared_ptr<const ConnectionInfo>> identities;
  identities.push_back(std::make_shared<ConnectionInfo>());
  RequestMerger merger(*run, procs.pids, outputs, out, identities.back());
  merger.Run();
  merger.Finish();
  if (merger.diverged() && !StopRequested()) {
    // Decoded again on one worker, after the records written.
    StopWorkers(procs);
    outcome.rerun = true;
    outcome.shown = merger.shown();
    UnmapSharedRun(run);
    return outcome;
  }
  for (unsigned i = 0; i < workers; ++i) AddWorkerStats(stats, *run->channel(i), i == 0);
  TakeErrors(path, *run, merger, outcome);
  UnmapSharedRun(run);
  ReleaseWorkers(procs);
  return outcome;
}

void WaitForReleasedWorkers() {
  for (pid_t p : g_released) waitpid(p, nullptr, 0);
  g_released.clear();
}
