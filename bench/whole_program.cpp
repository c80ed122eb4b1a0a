// Whole-program benchmark: generates captures of 20, 100 and 200 MB (cached), runs tdsdecode
// over each with the usual output choices to /dev/null, and prints MB/s of capture, frames/s
// and peak memory per run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Mode {
  const char* name;
  std::vector<std::string> args;
  const char* needs;              // an option tdsdecode must list in its help, or null
  const char* program = nullptr;  // another program of the build directory than tdsdecode
};

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;
  long peakKb = 0;
  int status = -1;
};

const char kUsage[] =
    "Usage: tds_bench_program [--bin DIR] [--cache DIR] [--sizes 20,100,200] [--seed N]\n"
    "                         [--repeat N] [--markdown]\n"
    "Times tdsdecode (from DIR, default: beside this program) over generated captures of the\n"
    "given sizes in MB (kept in the cache directory, default DIR/../bench-captures).\n";

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs argv with standard output to `out` (a path), standard error to `err`.
Run Spawn(const std::vector<std::string>& argv, const char* out, const char* err) {
  Run run;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const double start = Now();
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int o = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(126);
    dup2(o, 1);
    dup2(e, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.seconds = Now() - start;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakKb = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Records of a classic pcap; reading the whole file also puts it in the page cache.
uint64_t CountFrames(const std::string& path, uint64_t& bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  bytes = 0;
  if (!f) return 0;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t frames = 0;
  uint64_t next = 24;  // the first record follows the file header
  uint64_t at = 0;
  uint8_t header[16];
  size_t headerHave = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
    size_t i = 0;
    while (i < n) {
      if (at + i < next) {
        const uint64_t skip = next - (at + i);
        i = skip < n - i ? i + skip : n;
        continue;
      }
      header[headerHave++] = buffer[i++];
      if (headerHave == 16) {
        const uint32_t caplen = uint32_t(header[8]) | uint32_t(header[9]) << 8 |
                                uint32_t(header[10]) << 16 | uint32_t(header[11]) << 24;
        next = at + i + caplen;
        headerHave = 0;
        ++frames;
      }
    }
    at += n;
  }
  bytes = at;
  std::fclose(f);
  return frames;
}

bool HelpMentions(const std::string& tdsdecode, const char* option) {
  const std::string help = "/tmp/tds_bench_help." + std::to_string(getpid());
  Spawn({tdsdecode, "--help"}, help.c_str(), "/dev/null");
  FILE* f = std::fopen(help.c_str(), "rb");
  std::string text;
  if (f) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  std::remove(help.c_str());
  return text.find(option) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin = DirOf(argv[0]);
  std::string cache;
  std::vector<unsigned> sizes = {20, 100, 200};
  unsigned seed = 1;
  int repeat = 1;
  bool markdown = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--bin" && hasValue) {
      bin = argv[++i];
    } else if (arg == "--cache" && hasValue) {
      cache = argv[++i];
    } else if (arg == "--sizes" && hasValue) {
      sizes.clear();
      const std::string list = argv[++i];
      size_t at = 0;
      while (at < list.size()) {
        sizes.push_back(static_cast<unsigned>(std::strtoul(list.c_str() + at, nullptr, 10)));
        const size_t comma = list.find(',', at);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    } else if (arg == "--seed" && hasValue) {
      seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--repeat" && hasValue) {
      repeat = std::atoi(argv[++i]);
      if (repeat < 1) repeat = 1;
    } else if (arg == "--markdown") {
      markdown = true;
    } else {
      std::fputs(kUsage, arg == "-h" || arg == "--help" ? stdout : stderr);
      return arg == "-h" || arg == "--help" ? 0 : 2;
    }
  }
  if (cache.empty()) cache = bin + "/../bench-captures";
  mkdir(cache.c_str(), 0755);
  const std::string tdsdecode = bin + "/tdsdecode";
  const std::string generator = bin + "/gen_capture";
  if (!Exists(tdsdecode) || !Exists(generator)) {
    std::fprintf(stderr, "tds_bench_program: tdsdecode and gen_capture are not in %s\n",
                 bin.c_str());
    return 1;
  }

  // The bare read loop first: the floor every view stands on, measured in the same run.
  const std::vector<Mode> modes = {
      {"libpcap read loop", {}, nullptr, "pcap_read_loop"},
      {"--view packet -o json", {"--view", "packet", "-o", "json"}, "--view"},
      {"--view packet -o text", {"--view", "packet", "-o", "text"}, "--view"},
      {"--view packet --stats", {"--view", "packet", "--stats"}, "--view"},
      {"--view message -o json", {"--view", "message", "-o", "json"}, "--view"},
      {"--view message -o json --threads 1",
       {"--view", "message", "-o", "json", "--threads", "1"},
       "--threads"},
      {"--view message -o text", {"--view", "message", "-o", "text"}, "--view"},
      {"--requests -o json", {"--requests", "-o", "json"}, "--requests"},
      {"--requests -o json --threads 1",
       {"--requests", "-o", "json", "--threads", "1"},
       "--threads"},
  };

  // Rates are per CPU second of tdsdecode (user + system), what one core does whatever else
  // the machine is running; the wall-clock rate is shown beside it.
  const char* line = "%-8s %-24s %8s %8s %11s %12s %13s %9s  %s\n";
  if (markdown) {
    std::printf(
        "| capture | run | CPU s | wall s | MB/s (CPU) | MB/s (wall) | frames/s (CPU) | "
        "peak RSS MB | exit |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
  } else {
    std::printf(line, "capture", "run", "CPU s", "wall s", "MB/s (CPU)", "MB/s (wall)",
                "frames/s (CPU)", "peak MB", "exit");
  }
  int failures = 0;
  for (unsigned size : sizes) {
    const std::string capture =
        cache + "/gen-" + std::to_string(size) + "M-seed" + std::to_string(seed) + ".pcap";
    if (!Exists(capture)) {
      const std::string partial = capture + ".partial";
      const Run g = Spawn({generator, "--size", std::to_string(size) + "M", "--seed",
                           std::to_string(seed), "-o", partial},
                          "/dev/null", "/dev/null");
      if (g.status != 0 || std::rename(partial.c_str(), capture.c_str()) != 0) {
        std::fprintf(stderr, "tds_bench_program: generating %s failed\n", capture.c_str());
        return 1;
      }
    }
    uint64_t bytes = 0;
    const uint64_t frames = CountFrames(capture, bytes);
    const double mb = static_cast<double>(bytes) / 1e6;
    const std::string label = std::to_string(size) + " MB";
    for (const Mode& mode : modes) {
      if (mode.needs && !HelpMentions(tdsdecode, mode.needs)) continue;
      std::vector<std::string> args = {mode.program ? bin + "/" + mode.program : tdsdecode};
      args.insert(args.end(), mode.args.begin(), mode.args.end());
      args.push_back(capture);
      Run best;
      for (int r = 0; r < repeat; ++r) {
        const Run run = Spawn(args, "/dev/null", "/dev/null");
        if (r == 0 || run.cpuSeconds < best.cpuSeconds) best = run;
      }
      if (best.status != 0) ++failures;
      char status[32];
      std::snprintf(status, sizeof(status), "%d", best.status);
      const double cpu = best.cpuSeconds > 0 ? best.cpuSeconds : 1e-9;
      char wall[32], cpus[32], rate[32], wallRate[32], fps[32], peak[32];
      std::snprintf(wall, sizeof(wall), "%.2f", best.seconds);
      std::snprintf(cpus, sizeof(cpus), "%.2f", best.cpuSeconds);
      std::snprintf(rate, sizeof(rate), "%.0f", mb / cpu);
      std::snprintf(wallRate, sizeof(wallRate), "%.0f", mb / best.seconds);
      std::snprintf(fps, sizeof(fps), "%.0f", static_cast<double>(frames) / cpu);
      std::snprintf(peak, sizeof(peak), "%.1f", static_cast<double>(best.peakKb) / 1024.0);
      if (markdown)
        std::printf("| %s | `%s` | %s | %s | %s | %s | %s | %s | %s |\n", label.c_str(), mode.name,
                    cpus, wall, rate, wallRate, fps, peak, status);
      else
        std::printf(line, label.c_str(), mode.name, cpus, wall, rate, wallRate, fps, peak, status);
      std::fflush(stdout);
    }
  }
  return failures ? 1 : 0;
}
