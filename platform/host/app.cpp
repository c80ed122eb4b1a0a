#include "app.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "capture_reader.h"
#include "connection_table.h"
#include "hex_input.h"
#include "link_layer.h"
#include "message_view.h"
#include "options.h"
#include "packet_view.h"
#include "plugin_loader.h"
#include "progress.h"
#include "stats.h"
#include "tdsengine/out_buffer.h"

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

// Reads one input to its end; false when it was damaged.
template <typename ViewType>
bool Decode(FrameSource& source, const Options& options, ViewType& view, HostStats& stats,
            OutBuffer& out) {
  ConnectionTable table(options, view, stats);
  Progress progress(source);
  InputFrame input;
  TcpSegment segment;
  uint64_t frame = 0;
  while (source.Next(input)) {
    ++frame;
    ++stats.framesRead;
    const LinkResult r =
        DecodeFrame(input.linkType, input.data, input.captured, input.wire, segment);
    if (r == LinkResult::kTcp)
      table.Segment(segment, frame, input.hasHint ? &input.hint : nullptr);
    else if (r == LinkResult::kTooShort)
      ++stats.framesTooShort;
    progress.Tick(frame);
  }
  progress.Done();
  table.EndAll(frame);
  view.EndAll();
  if (!source.error().empty()) {
    Complain(out, source.error());
    return false;
  }
  return true;
}

// The input through the view that the options chose.
bool Decode(FrameSource& source, const Options& options, PacketView& packets, MessageView* messages,
            HostStats& stats, OutBuffer& out) {
  return messages ? Decode(source, options, *messages, stats, out)
                  : Decode(source, options, packets, stats, out);
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

  const std::string pluginPath =
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  Plugin plugin;
  std::string why;
  if (!LoadPlugin(pluginPath, plugin, why)) {
    std::fprintf(stderr, "tdsdecode: %s: cannot load the decoder plug-in: %s\n", pluginPath.c_str(),
                 why.c_str());
    return kExitInput;
  }
  TdsParseMessageFn parseMessage = nullptr;
  if (options.view == ViewKind::kMessage) {
    parseMessage = reinterpret_cast<TdsParseMessageFn>(plugin.Find(TDS_PARSE_MESSAGE_SYMBOL));
    if (!parseMessage) {
      std::fprintf(stderr,
                   "tdsdecode: %s: the decoder plug-in has no message entry (%s), which "
                   "--view message needs\n",
                   pluginPath.c_str(), TDS_PARSE_MESSAGE_SYMBOL);
      return kExitInput;
    }
  }

  int status = kExitOk;
  HostStats stats;
  {
    OutBuffer out(stdout);
    PacketView view(plugin.parse, options, out, stats);
    std::unique_ptr<MessageView> messages;
    if (parseMessage) messages.reset(new MessageView(parseMessage, options, out, stats));
    if (options.hexInput) {
      const std::string name = InputName(options.hexFile);
      FILE* in = options.hexFile == "-" ? stdin : std::fopen(options.hexFile.c_str(), "rb");
      if (!in) {
        Complain(out, name + ": " + std::strerror(errno));
        status = kExitInput;
      } else {
        HexSource source(in, name);
        if (!Decode(source, options, view, messages.get(), stats, out)) status = kExitInput;
        if (in != stdin) std::fclose(in);
      }
    } else {
      for (const std::string& path : options.captures) {
        std::string error;
        std::unique_ptr<CaptureSource> source = CaptureSource::Open(path, error);
        if (!source) {
          Complain(out, error);
          status = kExitInput;
          continue;
        }
        if (!Decode(*source, options, view, messages.get(), stats, out)) status = kExitInput;
      }
    }
    if (options.stats) {
      if (options.format == OutputFormat::kJson)
        PrintStatsJson(stats, out);
      else
        PrintStatsText(stats, out);
    }
    out.flush();
    if (out.failed() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "tdsdecode: standard output: write error\n");
      status = kExitInput;
    }
  }
  return status;
}
