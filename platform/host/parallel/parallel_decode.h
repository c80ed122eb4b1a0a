// The message view of a capture file decoded by several worker processes, each owning a share
// of the connections, their records merged into the order one worker would have written them.
//
// Workers are processes rather than threads: the decoder plug-in and the engine keep state
// per process (the analyser's contract), so each worker gets its own copy by fork() and no
// decoder code has to be made thread-safe.
#pragma once

#include <string>

#include "options.h"
#include "stats.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"

struct ParallelOutcome {
  bool started = false;  // false: the workers could not be started; decode on one instead
  bool inputOk = true;   // false: the input was damaged (error says why)
  std::string error;
  // The request log: the workers' order met a case one tracker decides differently; the input
  // is to be decoded again on one worker, passing over the first `shown` records it writes
  // (written already). The statistics were not added.
  bool rerun = false;
  uint64_t shown = 0;
};

// Decodes `path` (a regular file) on `workers` workers. `input`: the name each record carries
// (null: none). Statistics are added to `stats`, records written to `out`.
ParallelOutcome DecodeInParallel(const std::string& path, const char* input, unsigned workers,
                                 const Options& options, TdsParseMessageFn parse, HostStats& stats,
                                 OutBuffer& out);

class RequestOutputs;
// The request log of `path` (a regular file) on `workers` workers, written through the run's
// writer (`outputs` writes the log only: no digest, no report).
ParallelOutcome DecodeRequestsInParallel(const std::string& path, unsigned workers,
                                         const Options& options, TdsParseMessageFn parse,
                                         RequestOutputs& outputs, HostStats& stats, OutBuffer& out);

// Waits for the workers of earlier runs, let go when their run ended, to end.
void WaitForReleasedWorkers();
