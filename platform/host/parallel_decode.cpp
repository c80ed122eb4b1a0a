#include "parallel_decode.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "message_merger.h"
#include "parallel_worker.h"
#include "request_merger.h"
#include "request_outputs.h"
#include "stop_signal.h"
#include "worker_channel.h"

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
                            WorkerTask{&path, input, 0, nullptr, parse, 0}, &RunMessageWorker,
                            workerOptions, out, pids);
  if (!run) return outcome;
  outcome.started = true;
  MessageMerger merger(*run, pids, options.format == OutputFormat::kJson, out);
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
