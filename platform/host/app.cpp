#include "app.h"

#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "input/capture_reader.h"
#include "input/frame_writer.h"
#include "input/hex_input.h"
#include "input/link_layer.h"
#include "input/live_source.h"
#include "input/progress.h"
#include "input/stop_signal.h"
#include "options.h"
#include "parallel/parallel_decode.h"
#include "plugin_loader.h"
#include "requests/request_outputs.h"
#include "requests/request_view.h"
#include "stats.h"
#include "streams/connection_table.h"
#include "tdsengine/out_buffer.h"
#include "views/message_view.h"
#include "views/packet_view.h"
#include "views/protocol_names.h"

#ifndef TDSDECODE_VERSION
#define TDSDECODE_VERSION "0.0.0"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitInput = 1;
constexpr int kExitUsage = 2;

void Complain(OutBuffer& out, const std::string& message) {
  out.flush();  // what was decoded before comes first
  std::fflush(stdout);
  std::fprintf(stderr, "tdsdecode: %s\n", message.c_str());
}

// Whether reading should stop before the next frame: a signal, -c N frames read, or output
// that cannot be written.
bool StopReading(const Options& options, const HostStats& stats, const OutBuffer& out) {
  return StopRequested() || (options.count && stats.framesRead >= options.count) || out.failed();
}

// Reads one input to its end; false when it was damaged.
// clock, when given, is kept at the capture time of the frame being read.
template <typename ViewType>
bool Decode(FrameSource& source, const Options& options, ViewType& view, HostStats& stats,
            OutBuffer& out, int64_t* clock = nullptr) {
  ConnectionTable table(options, view, stats);
  Progress progress(source);
  InputFrame input;
  TcpSegment segment;
  uint64_t frame = 0;
  // An input that may wait for more bytes gets what was decoded before every read.
  const bool flushEach = options.flushEachRecord || source.streaming();
  source.SetWaitHook([&view, &out] {
    view.InputWaits();
    out.flush();
    std::fflush(stdout);
  });
  while (!StopReading(options, stats, out) && source.Next(input)) {
    frame += 1 + input.filteredBefore;
    if (clock) *clock = input.timeUs;
    FeedFrame(input, frame, table, segment, stats);
    progress.Tick(stats.framesRead);
    if (flushEach) {
      out.flush();
      std::fflush(stdout);
    }
  }
  source.SetWaitHook(nullptr);
  progress.Done();
  table.EndAll(frame);
  view.EndAll();
  if (!source.error().empty()) {
    Complain(out, source.error());
    return false;
  }
  return true;
}

// The views a run may use besides the packet view.
struct OtherViews {
  std::unique_ptr<MessageView> messages;
  std::unique_ptr<RequestView> requests;
  int64_t clock = 0;  // the capture time of the frame being read (message view, request log)
};

// The input through the view that the options chose.
bool Decode(FrameSource& source, const Options& options, PacketView& packets, OtherViews& other,
            HostStats& stats, OutBuffer& out) {
  if (other.requests) return Decode(source, options, *other.requests, stats, out, &other.clock);
  return other.messages ? Decode(source, options, *other.messages, stats, out, &other.clock)
                        : Decode(source, options, packets, stats, out);
}

// The message assembler lets go of a large message's buffer after each one; with the
// allocator's defaults every large answer then costs fresh pages from the system. The request
// log keeps freed memory for the next message instead.
void KeepFreedMemory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  mallopt(M_TOP_PAD, 16 * 1024 * 1024);
#endif
}

// The width of the terminal standard output goes to, else $COLUMNS, else 0 (no limit).
size_t OutputWidth() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  if (columns && *columns) {
    const long n = std::strtol(columns, nullptr, 10);
    if (n > 0) return static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

int RunTdsdecode(int argc, const char* const* argv) {
  Options options;
  const ParseOutcome parsed = ParseOptions(argc, argv, options);
  if (!parsed.ok) {
    std::fprintf(stderr, "tdsdecode: %s\nTry 'tdsdecode --help'.\n", parsed.error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("tdsdecode %s\n", TDSDECODE_VERSION);
    return kExitOk;
  }
  if (options.listInterfaces) {
    std::string error;
    if (!ListInterfaces(stdout, error)) {
      std::fprintf(stderr, "tdsdecode: %s\n", error.c_str());
      return kExitInput;
    }
    return kExitOk;
  }

  const std::string pluginPath =
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  Plugin plugin;
  std::string why;
  if (!LoadPlugin(pluginPath, plugin, why)) {
    std::fprintf(stderr, "tdsdecode: %s: cannot load the decoder plug-in: %s\n", pluginPath.c_str(),
                 why.c_str());
    return kExitInput;
  }
  SetProtocolNames(
      reinterpret_cast<TdsMessageTypeNameFn>(plugin.Find(TDS_MESSAGE_TYPE_NAME_SYMBOL)),
      reinterpret_cast<TdsTokenTextFn>(plugin.Find(TDS_TOKEN_TEXT_SYMBOL)));
  TdsParseMessageFn parseMessage = nullptr;
  if (options.view == ViewKind::kMessage || RequestMode(options)) {
    parseMessage = reinterpret_cast<TdsParseMessageFn>(plugin.Find(TDS_PARSE_MESSAGE_SYMBOL));
    if (!parseMessage) {
      std::fprintf(stderr,
                   "tdsdecode: %s: the decoder plug-in has no message entry (%s), which "
                   "%s needs\n",
                   pluginPath.c_str(), TDS_PARSE_MESSAGE_SYMBOL,
                   RequestMode(options) ? "--requests" : "--view message");
      return kExitInput;
    }
  }

  int status = kExitOk;
  HostStats stats;
  const unsigned workers = WorkerCount(options);
  {
    // 256 KiB a write: larger writes save nothing measurable, and the buffer is memory every run
    // keeps (the main process of a parallel request log writes through it too).
    OutBuffer out(stdout, size_t(256) << 10);
    PacketView view(plugin.parse, options, out, stats);
    std::unique_ptr<RequestOutputs> requestOutputs;  // outlives the request view
    OtherViews other;
    if (RequestMode(options)) {
      KeepFreedMemory();
      requestOutputs.reset(new RequestOutputs(options, out, OutputWidth()));
      std::string error;
      if (!requestOutputs->Open(error)) {
        std::fprintf(stderr, "tdsdecode: %s\n", error.c_str());
        return kExitInput;
      }
      other.requests.reset(
          new RequestView(parseMessage, requestOutputs->sink(), stats, other.clock, options));
    } else if (parseMessage) {
      other.messages.reset(new MessageView(parseMessage, options, out, stats, other.clock));
    }
    InstallStopHandlers();
    bool opened = false;  // an input was opened (the request log reports on it)
    if (!options.iface.empty()) {
      std::string error;
      std::unique_ptr<LiveSource> source =
          LiveSource::Open(options.iface, options.filter, options.writeFile, error);
      if (!source) {
        Complain(out, error);
        status = kExitInput;
      } else {
        opened = true;
        if (!Decode(*source, options, view, other, stats, out)) status = kExitInput;
      }
    } else if (options.hexInput) {
      const std::string name = InputName(options.hexFile);
      FILE* in = options.hexFile == "-" ? stdin : std::fopen(options.hexFile.c_str(), "rb");
      if (!in) {
        Complain(out, name + ": " + std::strerror(errno));
        status = kExitInput;
      } else {
        opened = true;
        HexSource source(in, name);
        if (!Decode(source, options, view, other, stats, out)) status = kExitInput;
        if (in != stdin) std::fclose(in);
      }
    } else {
      // -w: the frames of every input go to one copy, made with the first input's link type.
      std::unique_ptr<FrameWriter> copy;
      for (const std::string& path : options.captures) {
        if (StopReading(options, stats, out)) break;
        std::string error;
        std::unique_ptr<CaptureSource> source = CaptureSource::Open(path, error, options.filter);
        if (!source) {
          Complain(out, error);
          status = kExitInput;
          continue;
        }
        if (!options.writeFile.empty()) {
          if (!copy &&
              !(copy = FrameWriter::Open(options.writeFile, source->linkType(), false, error))) {
            Complain(out, error);
            status = kExitInput;
            break;
          }
          if (copy->linkType() == source->linkType()) {
            source->SetCopy(copy.get());
          } else {
            Complain(out, InputName(path) + ": link type " + std::to_string(source->linkType()) +
                              " is not that of " + options.writeFile + " (" +
                              std::to_string(copy->linkType()) + "): its frames are not copied");
            status = kExitInput;
          }
        }
        opened = true;
        // With several inputs each message record names its own.
        const bool named = options.captures.size() > 1;
        if (other.messages && named) other.messages->SetInput(path);
        const uint64_t tcpBefore = stats.tcpConnections;
        const uint64_t tdsBefore = stats.tdsConnections;
        // The message view and the request log of a file are decoded by a worker per core;
        // an input that may wait (a pipe) is decoded as it comes, on one, and so is the request
        // log with a digest or report.
        bool decoded = false;
        // -l asks for every record as soon as it is decoded, which one worker does.
        const bool parallel = (other.messages || (other.requests && requestOutputs->logOnly())) &&
                              !options.flushEachRecord;
        if (parallel && workers > 1 && path != "-" && !source->streaming() && !copy) {
          source.reset();
          const ParallelOutcome outcome =
              other.messages ? DecodeInParallel(path, named ? path.c_str() : nullptr, workers,
                                                options, parseMessage, stats, out)
                             : DecodeRequestsInParallel(path, workers, options, parseMessage,
                                                        *requestOutputs, stats, out);
          decoded = outcome.started && !outcome.rerun;
          // Decoded again on one: the records written already are passed over.
          if (outcome.rerun) requestOutputs->filter().SkipKept(outcome.shown);
          if (!outcome.inputOk) {
            Complain(out, outcome.error);
            status = kExitInput;
          }
          if (!decoded) source = CaptureSource::Open(path, error, options.filter);
        }
        if (!decoded && source && !Decode(*source, options, view, other, stats, out))
          status = kExitInput;
        // A capture without TDS is most often TDS on a port tdsdecode was not told of.
        if (stats.tdsConnections == tdsBefore) {
          out.flush();
          const uint64_t tcp = stats.tcpConnections - tcpBefore;
          std::fprintf(stderr,
                       "tdsdecode: %s: no TDS traffic found (%llu TCP connection%s); if TDS runs "
                       "on another port, name it with -p PORT\n",
                       InputName(path).c_str(), static_cast<unsigned long long>(tcp),
                       tcp == 1 ? "" : "s");
        }
      }
      std::string error;
      if (copy && !copy->Close(error)) {
        Complain(out, error);
        status = kExitInput;
      }
    }
    // With no input opened there is nothing to report on.
    if (other.requests && opened) {
      other.requests->Finish();
      std::string error;
      if (!requestOutputs->Finish(stats.tdsConnections, error)) {
        Complain(out, error);
        status = kExitInput;
      }
    }
    if (options.stats) {
      if (options.format == OutputFormat::kJson)
        PrintStatsJson(stats, out);
      else
        PrintStatsText(stats, out);
    }
    out.flush();
    int writeError = out.failed() ? out.errorNumber() : 0;
    bool failed = out.failed();
    if (std::fflush(stdout) != 0) {
      if (!writeError) writeError = errno;
      failed = true;
    }
    if (failed) {
      std::fprintf(stderr, "tdsdecode: standard output: %s\n",
                   writeError ? std::strerror(writeError) : "write error");
      status = kExitInput;
    }
  }
  WaitForReleasedWorkers();
  return status;
}
