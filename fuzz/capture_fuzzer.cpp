// The capture reader (pcap and pcapng through libpcap) and the stream tracker: the input is a
// capture file, read from memory, decoded as tdsdecode decodes a capture: link layer, TCP
// connections, sequence tracking and reassembly, TDS packet framing, the packet and message
// views and the request log, the plug-in.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "host_pipeline.h"
#include "input/capture_reader.h"

namespace {

// One in-memory file, rewritten for every input and opened by its /proc path.
int MemoryFile() {
  static const int fd = memfd_create("capture", 0);
  return fd;
}

bool Load(const uint8_t* data, size_t size) {
  const int fd = MemoryFile();
  if (fd < 0 || ftruncate(fd, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Load(data, size)) FuzzFail("cannot write the in-memory capture");
  const std::string path = "/proc/self/fd/" + std::to_string(MemoryFile());
  struct Pass {
    ViewKind view;
    bool reassemble;
    bool requests;
  };
  for (const Pass pass :
       {Pass{ViewKind::kPacket, true, false}, Pass{ViewKind::kPacket, false, false},
        Pass{ViewKind::kMessage, true, false}, Pass{ViewKind::kMessage, true, true}}) {
    std::string error;
    std::unique_ptr<CaptureSource> source = CaptureSource::Open(path, error);
    if (!source) return 0;
    Options options;
    options.captures.push_back(path);
    options.ports.push_back(5000);  // the rest are found by their login
    options.view = pass.view;
    options.reassemble = pass.reassemble;
    options.requests = pass.requests;
    options.format = size % 2 ? OutputFormat::kText : OutputFormat::kJson;
    ReleaseLedger ledger;
    RunHostPipeline(*source, options);
    ledger.ExpectAllReleased();
  }
  return 0;
}
