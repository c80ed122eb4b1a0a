// gen_capture: writes a deterministic capture of generated TDS 5.0 traffic.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "traffic.h"

namespace {

const char kUsage[] =
    "Usage: gen_capture [--size SIZE] [--seed N] [--connections N] [--port PORT] -o FILE\n"
    "\n"
    "Writes a classic pcap of generated TDS 5.0 traffic (Ethernet, IPv4, TCP): many\n"
    "interleaved client connections, each a login, language commands with result sets,\n"
    "RPCs, messages and cursors, and a logout. The same seed gives the same file.\n"
    "\n"
    "  --size SIZE        stop opening connections at about this size; K, M, G are\n"
    "                     10^3, 10^6, 10^9 bytes (default 200M)\n"
    "  --seed N           (default 1)\n"
    "  --connections N    connections open at the same time (default 32)\n"
    "  --port PORT        the server's port (default 5000)\n"
    "  -o FILE            the capture to write; - for standard output\n";

bool ParseNumber(const char* text, uint64_t& value, bool withSuffix) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || end == text) return false;
  uint64_t scale = 1;
  if (withSuffix && *end) {
    switch (*end) {
      case 'k':
      case 'K':
        scale = 1000ull;
        break;
      case 'm':
      case 'M':
        scale = 1000000ull;
        break;
      case 'g':
      case 'G':
        scale = 1000000000ull;
        break;
      default:
        return false;
    }
    ++end;
  }
  if (*end) return false;
  value = v * scale;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "gen_capture: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  gen::TrafficOptions options;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Fail(arg + ": unknown option or missing value");
    const char* value = argv[++i];
    uint64_t n = 0;
    if (arg == "--size") {
      if (!ParseNumber(value, n, true))
        return Fail("--size: bad size '" + std::string(value) + "'");
      options.size = n;
    } else if (arg == "--seed") {
      if (!ParseNumber(value, n, false)) return Fail("--seed: bad number");
      options.seed = n;
    } else if (arg == "--connections") {
      if (!ParseNumber(value, n, false) || n < 1 || n > 100000)
        return Fail("--connections: 1 to 100000");
      options.concurrency = static_cast<uint32_t>(n);
    } else if (arg == "--port") {
      if (!ParseNumber(value, n, false) || n < 1 || n > 65535) return Fail("--port: 1 to 65535");
      options.serverPort = static_cast<uint16_t>(n);
    } else if (arg == "-o" || arg == "--output") {
      output = value;
    } else {
      return Fail(arg + ": unknown option");
    }
  }
  if (output.empty()) return Fail("no output file given (-o FILE)");
  FILE* out = output == "-" ? stdout : std::fopen(output.c_str(), "wb");
  if (!out) return Fail(output + ": " + std::strerror(errno));
  gen::TrafficSummary summary;
  bool ok = gen::GenerateCapture(options, out, summary);
  if (out != stdout && std::fclose(out) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "gen_capture: %s: write error\n", output.c_str());
    return 1;
  }
  std::fprintf(stderr, "gen_capture: %s: %llu bytes, %llu frames, %llu connections\n",
               output.c_str(), static_cast<unsigned long long>(summary.bytes),
               static_cast<unsigned long long>(summary.frames),
               static_cast<unsigned long long>(summary.connections));
  return 0;
}
