// The hex reader, and behind it the whole decode of what it reads: connections, stream
// framing (with reassembly and without), the packet view, the message view and the request
// log, the plug-in.
#include <cstdio>

#include "fuzz_support.h"
#include "host_pipeline.h"
#include "input/hex_input.h"

namespace {

void Run(const uint8_t* data, size_t size, ViewKind view, bool reassemble, bool requests = false) {
  // fmemopen refuses an empty buffer; an empty input reads as the empty file.
  static const char kEmpty[1] = {'\n'};
  FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "r")
                  : fmemopen(const_cast<char*>(kEmpty), 1, "r");
  if (!in) return;
  Options options;
  options.hexInput = true;
  options.view = view;
  options.reassemble = reassemble;
  options.requests = requests;
  options.format = size % 2 ? OutputFormat::kText : OutputFormat::kJson;
  ReleaseLedger ledger;
  {
    HexSource source(in, "fuzz");
    RunHostPipeline(source, options);
  }
  ledger.ExpectAllReleased();
  std::fclose(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size, ViewKind::kPacket, false);
  Run(data, size, ViewKind::kPacket, true);
  Run(data, size, ViewKind::kMessage, true);
  Run(data, size, ViewKind::kMessage, true, true);
  return 0;
}
