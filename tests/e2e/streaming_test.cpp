// Streaming: tdsdecode reading a capture through a pipe writes each record before the input
// waits for more bytes; SIGINT stops it cleanly; -c N; the messages of inputs that cannot be
// read.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tdsdecode_runner.h"

namespace {

// A generous bound for output that must come: far beyond any decode, so only a fault trips it.
constexpr int kPatienceMs = 30000;

const char kCapture[] = "vendorclient/rpc.pcap";

// The capture cut after record `records`: the file header and records 1..records (classic pcap,
// little-endian).
std::string CutAfter(const std::string& pcap, size_t records) {
  size_t at = 24;
  for (size_t k = 0; k < records && at < pcap.size(); ++k) at += 16 + Le32At(pcap, at + 8);
  return pcap.substr(0, at);
}

// tdsdecode with its standard input and output on pipes.
struct Child {
  pid_t pid = -1;
  int in = -1;   // tdsdecode's standard input
  int out = -1;  // tdsdecode's standard output
  std::string read;

  explicit Child(const std::vector<std::string>& args) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[1]);
      close(fromChild[0]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(TDSDECODE_PATH));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(TDSDECODE_PATH, argv.data());
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fromChild[0];
  }
  ~Child() {
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(in, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // Reads until `ready` holds for what was read, the output ends, or patience runs out.
  template <typename Ready>
  void ReadUntil(Ready ready, int waitMs = kPatienceMs) {
    char buf[4096];
    while (!ready(read)) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, waitMs) <= 0) return;
      const ssize_t n = ::read(out, buf, sizeof buf);
      if (n <= 0) return;
      read.append(buf, static_cast<size_t>(n));
    }
  }
  void ReadToEnd() {
    ReadUntil([](const std::string&) { return false; });
  }
  // The exit status, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The frame at which the n-th request's answer ended (from 0).
size_t AnswerEnd(const std::string& capturePath, size_t n) {
  const RunResult r = RunTdsdecode({"--requests", "-o", "json", capturePath});
  EXPECT_GT(r.frames.size(), n);
  return r.frames.size() > n ? r.frames[n]["end_frame"].get<size_t>() : 0;
}

}  // namespace

// Each view's records of the first piece are read from tdsdecode's output before the second
// piece is written: the pipe waits, so what was decoded must be out.
TEST(Streaming, RecordsOfTheFirstPieceArriveBeforeTheSecondIsWritten) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  const std::string pcap = ReadFile(path);
  ASSERT_FALSE(pcap.empty());
  const size_t cut = AnswerEnd(path, 1);  // after the second request's answer
  const std::string first = CutAfter(pcap, cut);
  const std::string second = pcap.substr(first.size());
  const std::string firstPath = WriteTemp("stream-first.pcap", first);

  const std::vector<std::vector<std::string>> views = {
      {"--view", "packet", "-o", "json", "--no-reassemble"},
      {"--view", "packet", "-o", "json"},
      {"-o", "json"},
      {"--requests", "-o", "json"},
      {"-l", "--requests", "-o", "json"},
  };
  for (const std::vector<std::string>& view : views) {
    std::string name;
    for (const std::string& a : view) name += a + " ";
    std::vector<std::string> args = view;
    args.push_back(firstPath);
    const RunResult alone = RunTdsdecode(args);
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    const size_t expected = Lines(alone.out);
    ASSERT_GT(expected, 0u);

    args.back() = "-";
    Child child(args);
    ASSERT_GT(child.pid, 0);
    child.Write(first);
    child.ReadUntil([&](const std::string& s) { return Lines(s) >= expected; });
    EXPECT_EQ(child.read, alone.out) << name;
    child.Write(second);
    close(child.in);
    child.in = -1;
    child.ReadToEnd();
    EXPECT_EQ(child.Wait(), 0);
    // Read whole, the output is the same as from the file.
    args.back() = path;
    EXPECT_EQ(child.read, RunTdsdecode(args).out) << name;
  }
  std::remove(firstPath.c_str());
}

// SIGINT while the pipe waits: what was decoded is written, the open request is listed as
// unanswered, the summary follows, exit status 0.
TEST(Streaming, InterruptWhileTheInputWaitsEndsCleanly) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  const std::string pcap = ReadFile(path);
  const size_t cut = AnswerEnd(path, 1) - 1;  // the second answer's last frame missing
  for (const char* format : {"text", "json"}) {
    Child child({"--requests", "-o", format, "--stats", "-"});
    ASSERT_GT(child.pid, 0);
    child.Write(CutAfter(pcap, cut));
    // The login's record shows the handlers are in place and the input was read.
    child.ReadUntil([](const std::string& s) { return s.find("login") != std::string::npos; });
    ASSERT_NE(child.read.find("login"), std::string::npos) << format;
    kill(child.pid, SIGINT);
    child.ReadToEnd();
    EXPECT_EQ(child.Wait(), 0) << format;
    if (std::string(format) == "text") {
      EXPECT_NE(child.read.find("\nRequests: 2\n"), std::string::npos) << child.read;
      EXPECT_NE(child.read.find("unanswered"), std::string::npos) << child.read;
      EXPECT_NE(child.read.find("frames read"), std::string::npos) << child.read;
    } else {
      EXPECT_NE(child.read.find("\"unanswered\": true"), std::string::npos) << child.read;
      EXPECT_NE(child.read.find("{\"stats\""), std::string::npos) << child.read;
    }
  }
}

// SIGTERM sent to the process alone, not to its group, while two workers decode a file: the
// workers stop too, what was decoded is written whole, and the run ends with exit status 0.
TEST(Streaming, StopSentToTheProcessAloneStopsItsWorkers) {
  const std::string tdsdecode = TDSDECODE_PATH;
  const std::string generator = tdsdecode.substr(0, tdsdecode.rfind('/')) + "/gen_capture";
  const std::string path = TempName("stop-workers.pcap");
  const std::string command =
      "'" + generator + "' --size 60M --seed 3 -o '" + path + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::string> args = {"--requests", "-o", "json", "--threads", "2", path};
  const std::string whole = RunTdsdecode(args).out;
  const size_t all = std::count(whole.begin(), whole.end(), '\n');
  Child child(args);
  ASSERT_GT(child.pid, 0);
  close(child.in);
  child.in = -1;
  child.ReadUntil([](const std::string& s) { return s.find('\n') != std::string::npos; });
  kill(child.pid, SIGTERM);
  child.ReadToEnd();
  EXPECT_EQ(child.Wait(), 0);
  const size_t lines = std::count(child.read.begin(), child.read.end(), '\n');
  EXPECT_LT(lines, all);
  EXPECT_EQ(child.read.back(), '\n');
  EXPECT_NE(child.read.find("\"unanswered\": true"), std::string::npos);
  std::remove(path.c_str());
}

TEST(Streaming, CountStopsAfterThatManyFrames) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  for (const char* count : {"1", "3", "17"}) {
    const RunResult r = RunTdsdecode({"-c", count, "--stats", "-o", "json", path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames.back()["stats"]["frames_read"], std::stoi(count)) << r.out;
  }
}

TEST(Streaming, InputsThatCannotBeRead) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  };
  const Case cases[] = {
      {{"nosuch.pcap"}, 1, "tdsdecode: nosuch.pcap: No such file or directory\n"},
      {{"--requests", "nosuch.pcap"}, 1, "tdsdecode: nosuch.pcap: No such file or directory\n"},
      {{"--hex", "nosuch.hex"}, 1, "tdsdecode: nosuch.hex: No such file or directory\n"},
      {{"-w", "x.pcap", "--hex", "a.hex"},
       2,
       "tdsdecode: -w: cannot be combined with --hex\nTry 'tdsdecode --help'.\n"},
      {{"-w", "nosuchdir/x.pcap", "a.pcap"}, 1, "tdsdecode: "},
      {{"-c", "0", "a.pcap"},
       2,
       "tdsdecode: -c: bad count '0' (1 or more)\nTry 'tdsdecode --help'.\n"},
      {{"-i", "nosuch0"}, 1, "tdsdecode: nosuch0: "},
  };
  for (const Case& c : cases) {
    const RunResult r = RunTdsdecode(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0];
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args[0];
    EXPECT_EQ(r.out, "") << c.args[0];
  }
}

// -w keeps the frames read from capture files, as tcpdump -r IN -w OUT does: those the filter
// passes, up to -c, of every input; the copy decodes as they did.
TEST(Streaming, CopyOfTheFramesRead) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  const std::string copy = TempName("copy.pcap");
  const RunResult first =
      RunTdsdecode({"-w", copy, "-c", "9", "--view", "packet", "-o", "json", path});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const RunResult again = RunTdsdecode({"--view", "packet", "-o", "json", "--stats", copy});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.frames.back()["stats"]["frames_read"], 9);
  EXPECT_EQ(again.out.substr(0, first.out.size()), first.out);

  // A filter, and a second input whose frames it all refuses: only the passed frames are kept.
  const std::string vlan = TestData("captures/tds5.pcap");
  ASSERT_EQ(RunTdsdecode({"-w", copy, "-f", "vlan and tcp", "-o", "json", vlan, path}).exitCode, 0);
  const RunResult kept = RunTdsdecode({"--stats", "-o", "json", copy});
  const RunResult direct = RunTdsdecode({"-f", "vlan and tcp", "--stats", "-o", "json", vlan});
  ASSERT_EQ(kept.exitCode, 0) << kept.err;
  ASSERT_FALSE(direct.frames.empty());
  EXPECT_EQ(kept.out, direct.out);
  std::remove(copy.c_str());
}

// A capture filter passes frames over without renumbering the rest: a frame has its number in
// the file, as in every other tool that reads it. (Only segments with PSH set carry payload here.)
TEST(Streaming, FilteredFramesKeepTheirNumbers) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  const RunResult all = RunTdsdecode({"--view", "packet", "-o", "json", "--stats", path});
  const RunResult pushed =
      RunTdsdecode({"-f", "tcp[13] & 8 != 0", "--view", "packet", "-o", "json", "--stats", path});
  ASSERT_EQ(pushed.exitCode, 0) << pushed.err;
  ASSERT_EQ(all.frames.size(), pushed.frames.size());
  for (size_t i = 0; i + 1 < all.frames.size(); ++i) EXPECT_EQ(all.frames[i], pushed.frames[i]);
  EXPECT_LT(pushed.frames.back()["stats"]["frames_read"],
            all.frames.back()["stats"]["frames_read"]);
}

TEST(Streaming, WriteErrorSaysWhy) {
  const std::string path = TestData(std::string("captures/") + kCapture);
  // Standard error goes to the pipe; standard output to the full device.
  const std::string run = std::string(TDSDECODE_PATH) + " '" + path + "' 2>&1 >/dev/full";
  FILE* p = popen(run.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string err;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) err += buf;
  const int status = pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(err, "tdsdecode: standard output: No space left on device\n");
}

// Live capture on the loopback interface (root only): a TDS packet sent over a local TCP
// connection shows as a frame; -w keeps a copy; SIGINT ends with exit status 0.
TEST(Streaming, LiveCaptureOnLoopback) {
  if (geteuid() != 0) GTEST_SKIP() << "live capture needs root";
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(listen(listener, 64), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string port = std::to_string(ntohs(addr.sin_port));
  const std::string copy = TempName("live-copy.pcap");

  Child child({"-i", "lo", "-w", copy, "-p", port, "--view", "packet", "-o", "json",
               "--no-reassemble", "tcp", "port", port});
  ASSERT_GT(child.pid, 0);
  // A type-15 packet whose first token is the obsolete 0xA0, as in the packet view's example.
  const unsigned char packet[] = {0x0f, 0x01, 0x00, 0x0c, 0, 0, 0, 0, 0xa0, 1, 2, 3};
  // The capture starts at some point after launch: send until a frame shows (or the program
  // gives up on the interface, then the test is skipped).
  bool exited = false;
  for (int attempt = 0; attempt < 150 && child.read.find("\"frame\"") == std::string::npos;
       ++attempt) {
    if (waitpid(child.pid, nullptr, WNOHANG) == child.pid) {
      child.pid = -1;
      exited = true;
      break;
    }
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const int peer = accept(listener, nullptr, nullptr);
      (void)!write(s, packet, sizeof packet);
      close(peer);
    }
    close(s);
    child.ReadUntil([](const std::string& t) { return t.find("\"frame\"") != std::string::npos; },
                    200);
  }
  close(listener);
  if (exited) GTEST_SKIP() << "the loopback interface cannot be opened";
  ASSERT_NE(child.read.find("\"frame\""), std::string::npos);
  kill(child.pid, SIGINT);
  child.ReadToEnd();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_NE(child.read.find("\"dir\": \"c2s\""), std::string::npos) << child.read;
  EXPECT_NE(child.read.find("Obsolete"), std::string::npos) << child.read;
  const std::string saved = ReadFile(copy);
  EXPECT_GT(saved.size(), 24u);
  std::remove(copy.c_str());
}
