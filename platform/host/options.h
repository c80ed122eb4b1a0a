// The command line: what to read, how to show it, which ports carry TDS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputFormat { kText, kJson };

// How decoded traffic is presented; each view has its own framing and records.
enum class ViewKind { kPacket, kMessage };

// The byte order of connections in the message view and the request log: the login's (inferred
// when the login was not captured), or forced by --byte-order.
enum class ByteOrderChoice { kAuto, kBig, kLittle };

struct Options {
  std::vector<std::string> captures;  // pcap/pcapng files, "-" for standard input
  std::string hexFile;                // --hex FILE ("-" for standard input); empty when unused
  bool hexInput = false;
  OutputFormat format = OutputFormat::kText;
  // Without --view, ParseOptions chooses the message view for captures and the packet view for
  // hex input (and under --requests).
  ViewKind view = ViewKind::kPacket;
  bool viewGiven = false;
  ByteOrderChoice byteOrder = ByteOrderChoice::kAuto;
  bool showPasswords = false;   // the login's passwords in the message view and the request log
  uint64_t rows = 0;            // --rows N: rows of each result set the request log shows
  std::vector<uint16_t> ports;  // TDS ports; 5000 when none given
  bool reassemble = true;
  std::string pluginPath;  // empty: the plug-in installed beside the program
  bool stats = false;
  bool requests = false;         // --requests: the request log instead of a view of the traffic
  bool flushEachRecord = false;  // -l
  uint64_t count = 0;            // -c N: stop after N frames read (0: no limit)
  std::string iface;             // -i IFACE: capture live
  std::string filter;            // -f EXPR, or the expression after the options with -i
  std::string writeFile;         // -w FILE: the live frames also written to a pcap file
  bool listInterfaces = false;   // -D
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
