// The worker side of a parallel run: a worker process reads the whole input, keeps the whole
// connection table and decodes the connections it owns, rendering their records straight into
// its channel with a mark per record, for the merging process to write in order.
#pragma once

#include <cstddef>
#include <string>

#include "options.h"
#include "tdsengine/message.h"

struct SharedRun;

struct WorkerTask {
  const std::string* path;
  const char* input;
  unsigned index;
  const Options* options;
  TdsParseMessageFn parse;
  size_t width;  // of the request log's text lines
};

// The message view of the task's input: records of the connections this worker owns.
void RunMessageWorker(SharedRun& run, const WorkerTask& task);
// The request log of the task's input, as one step of the merged log's tracker per mark.
void RunRequestWorker(SharedRun& run, const WorkerTask& task);
