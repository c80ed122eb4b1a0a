// Runs the tdsdecode binary and reads its JSON Lines output, for end-to-end tests.
#pragma once
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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

// The n-th field (from 0) with this label in a packet object, or null.
const nlohmann::json* FindField(const nlohmann::json& packet, const std::string& label,
                                int nth = 0);

// Every field label of a packet, in order.
std::vector<std::string> Labels(const nlohmann::json& packet);
