// The command line: what to read, how to show it, which ports carry TDS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputFormat { kText, kJson };

// How decoded traffic is presented; each view has its own framing and records.
enum class ViewKind { kPacket, kMessage };

struct Options {
  std::vector<std::string> captures;  // pcap/pcapng files, "-" for standard input
  std::string hexFile;                // --hex FILE ("-" for standard input); empty when unused
  bool hexInput = false;
  OutputFormat format = OutputFormat::kText;
  ViewKind view = ViewKind::kPacket;
  std::vector<uint16_t> ports;  // TDS ports; 5000 when none given
  bool reassemble = true;
  std::string pluginPath;  // empty: the plug-in installed beside the program
  bool stats = false;
  bool requests = false;  // --requests: the request log instead of a view of the traffic
  bool help = false;
  bool version = false;
};

struct ParseOutcome {
  bool ok = true;
  std::string error;  // "WHAT: WHY" for a usage error
};

ParseOutcome ParseOptions(int argc, const char* const* argv, Options& options);

// The help text.
const char* UsageText();

// Whether the port is one of the TDS ports.
bool IsTdsPort(const Options& options, uint16_t port);
