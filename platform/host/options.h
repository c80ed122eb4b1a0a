// The command line: what to read, how to show it, which ports carry TDS.
#pragma once

#include <cstdint>
#include <limits>
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
  std::string writeFile;         // -w FILE: the frames read also written to a pcap file
  bool listInterfaces = false;   // -D
  bool help = false;
  bool version = false;
  // --threads N: workers that decode connections side by side (message view and request log
  // of capture files); 0 until given: the number of cores.
  unsigned threads = 0;

  // The request log's analysis, and the requests it and the log keep.
  bool digest = false;  // --digest: the requests grouped by fingerprint
  std::string report;   // --report FILE: the digest as an HTML page
  int64_t slowUs = -1;  // --slow MS: only requests slower than this (-1: all)
  int64_t sinceUs = std::numeric_limits<int64_t>::min();  // --since TIME
  int64_t untilUs = std::numeric_limits<int64_t>::max();  // --until TIME
};

struct ParseOutcome {
  bool ok = true;
  std::string error;  // "WHAT: WHY" for a usage error
};

ParseOutcome ParseOptions(int argc, const char* const* argv, Options& options);

// The most workers --threads takes.
constexpr unsigned kMaxThreads = 64;
// The workers a run uses: --threads, else the number of cores (at most kMaxThreads).
unsigned WorkerCount(const Options& options);

// The help text.
const char* UsageText();

// Whether the run follows requests (--requests, --digest or --report).
inline bool RequestMode(const Options& o) {
  return o.requests || o.digest || !o.report.empty();
}

// Whether the port is one of the TDS ports.
bool IsTdsPort(const Options& options, uint16_t port);
