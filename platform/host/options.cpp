#include "options.h"

#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "requests/request_filter.h"

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v < 1 || v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

// A port list: one port or several separated by commas.
bool AddPorts(const std::string& text, std::vector<uint16_t>& ports) {
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    uint16_t port;
    if (!ParsePort(text.substr(start, comma == std::string::npos ? comma : comma - start), port))
      return false;
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// A count: decimal digits only, at most 10^18 - 1.
bool ParseCount(const std::string& text, uint64_t& count) {
  if (text.empty() || text.size() > 18) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  count = v;
  return true;
}

ParseOutcome Fail(const std::string& what, const std::string& why) {
  ParseOutcome r;
  r.ok = false;
  r.error = what + ": " + why;
  return r;
}

// Where the words after the capture files begin: the first word after the first that names no
// file (nor standard input) when it and the words after it compile as a capture filter; the
// count of words otherwise.
size_t TrailingFilter(const std::vector<std::string>& words) {
  size_t at = 1;
  struct stat st;
  while (at < words.size() && (words[at] == "-" || stat(words[at].c_str(), &st) == 0)) ++at;
  if (at >= words.size()) return words.size();
  // A word with a path's slash or a capture's extension is a file that is missing, not a host
  // name to look up (compiling a filter looks names up).
  const std::string& first = words[at];
  for (const char* ext : {".pcap", ".pcapng", ".cap"}) {
    const size_t n = std::strlen(ext);
    if (first.size() > n && first.compare(first.size() - n, n, ext) == 0) return words.size();
  }
  if (first.find('/') != std::string::npos) return words.size();
  std::string expression;
  for (size_t k = at; k < words.size(); ++k) expression += (k > at ? " " : "") + words[k];
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  if (!dead) return words.size();
  struct bpf_program program;
  const bool compiles =
      pcap_compile(dead, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
  if (compiles) pcap_freecode(&program);
  pcap_close(dead);
  return compiles ? at : words.size();
}

}  // namespace

const char* UsageText() {
  return "Usage: tdsdecode [OPTIONS] CAPTURE... [FILTER EXPRESSION]\n"
         "       tdsdecode [OPTIONS] --hex FILE\n"
         "       tdsdecode [OPTIONS] -i IFACE [FILTER EXPRESSION]\n"
         "\n"
         "Decodes Sybase TDS 5.0 traffic from pcap/pcapng captures (\"-\" reads standard input)\n"
         "or from hex text (one frame per line: [CONN]c|s HEX).\n"
         "\n"
         "Options:\n"
         "  -o, --output text|json  a readable tree (default) or JSON Lines, one object per "
         "record\n"
         "  -p, --port PORT         a TCP port that carries TDS (repeatable; default 5000); other\n"
         "                          ports are decoded when the client opens with a login packet\n"
         "      --view message|packet\n"
         "                          message: each whole TDS message, every token walked (default\n"
         "                          for captures); packet: each frame as the decoder sees it\n"
         "                          (default for --hex)\n"
         "      --requests          the request log: each client request with its answer\n"
         "                          (time, duration, rows, errors), then a summary in text\n"
         "      --rows N            the request log shows the first N rows of each result set\n"
         "      --digest            the requests grouped by statement fingerprint, ranked by\n"
         "                          total time: counts, latency percentiles, rows, errors,\n"
         "                          users, applications, clients; then per user, application\n"
         "                          and client address, errors by number, requests per second\n"
         "      --report FILE       write the digest as a self-contained HTML page to FILE\n"
         "      --slow MS           keep only requests slower than MS milliseconds (request\n"
         "                          log, digest and report)\n"
         "      --since TIME        keep only requests sent at TIME or later (UTC,\n"
         "                          2026-12-07T02:47:57.5Z, or seconds since 1970)\n"
         "      --until TIME        keep only requests sent before TIME\n"
         "      --byte-order big|little\n"
         "                          the byte order of every connection, whatever its login said\n"
         "                          (default: the login's, else inferred from the tokens)\n"
         "      --show-passwords    show login passwords instead of ********\n"
         "      --hex FILE          read frames from hex text instead of a capture\n"
         "      --no-reassemble     hand every TCP segment over as one frame, as captured\n"
         "      --plugin PATH       the decoder plug-in to load (default: the installed one)\n"
         "      --stats             print a summary after the records\n"
         "      --threads N         decode connections on N workers side by side (default: the\n"
         "                          number of cores); the records come out in the same order\n"
         "                          as with one (message view and request log of capture\n"
         "                          files)\n"
         "  -l                      flush the output after every record (it is always flushed\n"
         "                          when the input waits for more bytes)\n"
         "  -c N                    stop after N frames\n"
         "  -i IFACE                capture live on IFACE (\"any\": every interface); the words\n"
         "                          after the options are then a capture filter expression\n"
         "  -f EXPR                 a capture filter expression (pcap filter syntax); the words\n"
         "                          after the capture files that name no file are one too\n"
         "  -w FILE                 also write the frames read (those the filter passes, up to\n"
         "                          -c) to a pcap file\n"
         "  -D                      list the interfaces and exit\n"
         "  -h, --help              show this help and exit\n"
         "      --version           show the version and exit\n"
         "\n"
         "--byte-order and --show-passwords apply to the message view and the request log; the\n"
         "packet view shows each frame as the decoder alone sees it.\n"
         "\n"
         "SIGINT and SIGTERM stop reading: what was decoded is written, open requests are\n"
         "listed as unanswered, the summary and --stats follow, and the exit status is 0.\n"
         "\n"
         "Exit status: 0 when every input was read to its end, 1 when an input could not be\n"
         "read or is damaged, 2 for a usage error.\n";
}

unsigned WorkerCount(const Options& options) {
  if (options.threads) return options.threads;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  if (cores < 1) return 1;
  return cores > long(kMaxThreads) ? kMaxThreads : static_cast<unsigned>(cores);
}

bool IsTdsPort(const Options& options, uint16_t port) {
  for (uint16_t p : options.ports)
    if (p == port) return true;
  return false;
}

ParseOutcome ParseOptions(int argc, const char* const* argv, Options& o) {
  bool endOfOptions = false;
  bool hexGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (endOfOptions || arg == "-" || arg.empty() || arg[0] != '-') {
      o.captures.push_back(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    // Options that take a value: "--name VALUE", "--name=VALUE", "-xVALUE", "-x VALUE".
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        hasValue = true;
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      hasValue = true;
    }
    const bool takesValue =
        name == "-o" || name == "--output" || name == "-p" || name == "--port" || name == "--hex" ||
        name == "--plugin" || name == "--view" || name == "--byte-order" || name == "--rows" ||
        name == "--report" || name == "--slow" || name == "--since" || name == "--until" ||
        name == "-c" || name == "-i" || name == "-f" || name == "-w" || name == "--threads";
    if (takesValue && !hasValue) {
      if (i + 1 >= argc) return Fail(name, "needs a value");
      value = argv[++i];
      hasValue = true;
    } else if (!takesValue && hasValue) {
      if (arg.compare(0, 2, "--") == 0) return Fail(name, "takes no value");
      return Fail(arg, "unknown option");
    }

    if (name == "-o" || name == "--output") {
      if (value == "text")
        o.format = OutputFormat::kText;
      else if (value == "json")
        o.format = OutputFormat::kJson;
      else
        return Fail(name, "unknown output format '" + value + "' (text or json)");
    } else if (name == "-p" || name == "--port") {
      if (!AddPorts(value, o.ports)) return Fail(name, "bad port '" + value + "' (1 to 65535)");
    } else if (name == "--view") {
      if (value == "packet")
        o.view = ViewKind::kPacket;
      else if (value == "message")
        o.view = ViewKind::kMessage;
      else
        return Fail(name, "unknown view '" + value + "' (packet or message)");
      o.viewGiven = true;
    } else if (name == "--byte-order") {
      if (value == "big")
        o.byteOrder = ByteOrderChoice::kBig;
      else if (value == "little")
        o.byteOrder = ByteOrderChoice::kLittle;
      else
        return Fail(name, "unknown byte order '" + value + "' (big or little)");
    } else if (name == "--rows") {
      if (!ParseCount(value, o.rows)) return Fail(name, "bad count '" + value + "' (0 or more)");
    } else if (name == "-c") {
      if (!ParseCount(value, o.count) || o.count == 0)
        return Fail(name, "bad count '" + value + "' (1 or more)");
    } else if (name == "--threads") {
      uint64_t n = 0;
      if (!ParseCount(value, n) || n == 0 || n > kMaxThreads)
        return Fail(name, "bad count '" + value + "' (1 to " + std::to_string(kMaxThreads) + ")");
      o.threads = static_cast<unsigned>(n);
    } else if (name == "-i") {
      if (value.empty()) return Fail(name, "needs an interface");
      o.iface = value;
    } else if (name == "-f") {
      o.filter = value;
    } else if (name == "-w") {
      if (value.empty()) return Fail(name, "needs a path");
      o.writeFile = value;
    } else if (name == "-l") {
      o.flushEachRecord = true;
    } else if (name == "-D") {
      o.listInterfaces = true;
    } else if (name == "--show-passwords") {
      o.showPasswords = true;
    } else if (name == "--hex") {
      if (hexGiven) return Fail(name, "given more than once");
      hexGiven = true;
      o.hexInput = true;
      o.hexFile = value;
    } else if (name == "--plugin") {
      if (value.empty()) return Fail(name, "needs a path");
      o.pluginPath = value;
    } else if (name == "--no-reassemble") {
      o.reassemble = false;
    } else if (name == "--stats") {
      o.stats = true;
    } else if (name == "--requests") {
      o.requests = true;
    } else if (name == "--digest") {
      o.digest = true;
    } else if (name == "--report") {
      if (value.empty()) return Fail(name, "needs a path");
      o.report = value;
    } else if (name == "--slow") {
      if (!ParseMillisOption(value, o.slowUs))
        return Fail(name, "bad duration '" + value + "' (milliseconds, 0 or more)");
    } else if (name == "--since" || name == "--until") {
      if (!ParseTimeOption(value, name == "--since" ? o.sinceUs : o.untilUs))
        return Fail(name,
                    "bad time '" + value +
                        "' (UTC, YYYY-MM-DD[THH:MM[:SS[.FFFFFF]]][Z], or seconds since 1970)");
    } else if (name == "-h" || name == "--help") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else {
      return Fail(arg, "unknown option");
    }
  }
  if (o.help || o.version || o.listInterfaces) return {};
  if (!o.iface.empty()) {
    // As tcpdump takes it: the words after the options are the capture filter.
    if (o.hexInput) return Fail("-i", "cannot be combined with --hex");
    if (!o.captures.empty()) {
      if (!o.filter.empty()) return Fail("-f", "given with a filter expression after the options");
      for (size_t k = 0; k < o.captures.size(); ++k) o.filter += (k ? " " : "") + o.captures[k];
      o.captures.clear();
    }
  } else if (!o.hexInput) {
    // After the first capture file, words that name no file and read as a capture filter are
    // one, as tcpdump takes the words after `-r FILE`.
    const size_t at = TrailingFilter(o.captures);
    if (at < o.captures.size()) {
      if (!o.filter.empty()) return Fail("-f", "given with a filter expression after the options");
      for (size_t k = at; k < o.captures.size(); ++k)
        o.filter += (k > at ? " " : "") + o.captures[k];
      o.captures.resize(at);
    }
  }
  if (o.hexInput && !o.writeFile.empty()) return Fail("-w", "cannot be combined with --hex");
  if (o.hexInput && !o.filter.empty()) return Fail("-f", "cannot be combined with --hex");
  if (o.hexInput && !o.captures.empty())
    return Fail("--hex", "cannot be combined with capture files");
  if (!o.hexInput && o.iface.empty() && o.captures.empty())
    return Fail("input", "no capture file given");
  const char* mode = o.requests ? "--requests" : o.digest ? "--digest" : "--report";
  if (RequestMode(o) && o.viewGiven && o.view != ViewKind::kPacket)
    return Fail(mode, "cannot be combined with --view");
  if (!RequestMode(o) && (o.slowUs >= 0 || o.sinceUs != std::numeric_limits<int64_t>::min() ||
                          o.untilUs != std::numeric_limits<int64_t>::max()))
    return Fail(o.slowUs >= 0 ? "--slow" : "--since/--until",
                "needs --requests, --digest or --report");
  if (!o.viewGiven) o.view = o.hexInput || RequestMode(o) ? ViewKind::kPacket : ViewKind::kMessage;
  if (o.ports.empty()) o.ports.push_back(5000);
  return {};
}
