// Runs the tdsdecode binary and reads its JSON Lines output, for end-to-end tests.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "checks.h"

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<nlohmann::json> frames;  // one per JSON line of `out` (when -o json)
};

// tdsdecode ARGS..., with `input` on standard input.
RunResult RunTdsdecode(const std::vector<std::string>& args, const std::string& input = "");

// tdsdecode --hex TMPFILE -o json --no-reassemble EXTRA...; `hex` is the hex file's text.
RunResult DecodeHex(const std::string& hex, const std::vector<std::string>& extra = {});

// Path of a file under tests/data.
std::string TestData(const std::string& name);

// tdsdecode ARGS... on tests/data/captures/FILE, which is expected to succeed; in the packet
// view unless ARGS name a view or the request log.
RunResult DecodeCapture(const std::string& file,
                        const std::vector<std::string>& args = {"-o", "json", "--no-reassemble"});

// The n-th field (from 0) with this label in a packet object, or null.
const nlohmann::json* FindField(const nlohmann::json& packet, const std::string& label,
                                int nth = 0);

// Every field label of a packet, in order.
std::vector<std::string> Labels(const nlohmann::json& packet);

// The little-endian 32-bit number at `at` of a file's bytes (as a classic pcap file has them).
inline uint32_t Le32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<uint8_t>(bytes.at(at + i));
  return v;
}

// The bytes of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

// The path of this process's file under /tmp named after `tag` (ctest runs the tests of a
// binary in parallel processes), and the same written with the bytes.
std::string TempName(const std::string& tag);
std::string WriteTemp(const std::string& tag, const std::string& bytes);
