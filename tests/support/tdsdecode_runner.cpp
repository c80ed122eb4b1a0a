#include "tdsdecode_runner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// A fresh name under /tmp, reserved by an empty file of that name (removed with the others).
std::string TempBase() {
  char name[] = "/tmp/tdsdecode_test_XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  return name;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempName(const std::string& tag) {
  return "/tmp/tdsdecode_test_" + std::to_string(getpid()) + "_" + tag;
}

std::string WriteTemp(const std::string& tag, const std::string& bytes) {
  const std::string path = TempName(tag);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

RunResult RunTdsdecode(const std::vector<std::string>& args, const std::string& input) {
  const std::string base = TempBase();
  const std::string inPath = base + ".in";
  const std::string outPath = base + ".out";
  const std::string errPath = base + ".err";
  std::ofstream(inPath, std::ios::binary) << input;
  std::string cmd = Quote(TDSDECODE_PATH);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " <" + Quote(inPath) + " >" + Quote(outPath) + " 2>" + Quote(errPath);
  RunResult r;
  const int status = std::system(cmd.c_str());
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  std::remove(base.c_str());
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] != '{') continue;
    r.frames.push_back(nlohmann::json::parse(line, nullptr, false));
  }
  return r;
}

RunResult DecodeHex(const std::string& hex, const std::vector<std::string>& extra) {
  const std::string base = TempBase();
  const std::string path = base + ".hex";
  std::ofstream(path, std::ios::binary) << hex;
  std::vector<std::string> args = {"--hex", path, "-o", "json", "--no-reassemble"};
  args.insert(args.end(), extra.begin(), extra.end());
  RunResult r = RunTdsdecode(args);
  std::remove(path.c_str());
  std::remove(base.c_str());
  return r;
}

std::string TestData(const std::string& name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

RunResult DecodeCapture(const std::string& file, const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  // The tests of the packet view name no view; captures are shown in the message view unless
  // told otherwise.
  const bool named = std::find(all.begin(), all.end(), "--view") != all.end() ||
                     std::find(all.begin(), all.end(), "--requests") != all.end();
  if (!named) all.insert(all.begin(), {"--view", "packet"});
  all.push_back(TestData("captures/" + file));
  RunResult r = RunTdsdecode(all);
  EXPECT_EQ(r.exitCode, 0) << file << ": " << r.err;
  return r;
}

const nlohmann::json* FindField(const nlohmann::json& packet, const std::string& label, int nth) {
  if (!packet.contains("fields")) return nullptr;
  for (const auto& f : packet["fields"]) {
    if (f.value("label", "") == label && nth-- == 0) return &f;
  }
  return nullptr;
}

std::vector<std::string> Labels(const nlohmann::json& packet) {
  std::vector<std::string> out;
  if (!packet.contains("fields")) return out;
  for (const auto& f : packet["fields"]) out.push_back(f.value("label", ""));
  return out;
}
