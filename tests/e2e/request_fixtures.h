// Helpers for the cursor and request token tests: one-token packets as hex lines, and the
// token's fields checked in order after the packet header and the token type.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tdsdecode_runner.h"

namespace reqfix {

using nlohmann::json;

// Index of the first field after the six header fields and "TDS Token Type".
constexpr size_t kTokenFields = 7;
// Offset of the first byte after the token type.
constexpr int kBody = 9;

// A client hex line: one type-15 packet around the token bytes (spaces allowed). The header's
// length counts `extra` bytes more than given, for frames that end inside the token.
inline std::string Line(const std::string& tokenHex, int extra = 0) {
  std::string digits;
  for (char c : tokenHex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  char header[24];
  std::snprintf(header, sizeof(header), "0f01%04x00000000",
                static_cast<unsigned>(8 + digits.size() / 2 + static_cast<size_t>(extra)));
  return "c " + std::string(header) + digits + "\n";
}

// Decodes the lines and returns the first packet of every frame.
inline std::vector<json> Packets(const std::string& hex) {
  const RunResult run = DecodeHex(hex);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::vector<json> packets;
  for (const json& frame : run.frames) packets.push_back(frame.at("packets").at(0));
  return packets;
}

struct Want {
  std::string label;
  int offset;
  int size;
  std::string format;
  json value = nullptr;  // null: not checked
};

// The wanted fields `head` followed by `more`.
inline std::vector<Want> With(std::vector<Want> head, const std::vector<Want>& more) {
  head.insert(head.end(), more.begin(), more.end());
  return head;
}

// The token's fields, exactly these and in this order.
inline void ExpectFields(const json& packet, const std::vector<Want>& want) {
  const json& fields = packet.at("fields");
  ASSERT_EQ(fields.size(), want.size() + kTokenFields) << packet.dump();
  for (size_t i = 0; i < want.size(); ++i) {
    const json& f = fields[i + kTokenFields];
    const Want& w = want[i];
    SCOPED_TRACE("field " + std::to_string(i) + " \"" + w.label + "\"");
    EXPECT_EQ(f["label"], w.label);
    EXPECT_EQ(f["offset"], w.offset);
    EXPECT_EQ(f["size"], w.size);
    EXPECT_EQ(f["format"], w.format);
    if (!w.value.is_null()) {
      EXPECT_EQ(f["value"], w.value);
    }
  }
}

// The first packet of the frame with this number in a capture's run.
inline json FrameOf(const RunResult& run, int number) {
  for (const json& frame : run.frames) {
    if (frame["frame"] == number) return frame.at("packets").at(0);
  }
  ADD_FAILURE() << "no frame " << number;
  return json::object();
}

// The token's i-th field (from 0).
inline const json& Field(const json& packet, size_t i) {
  return packet.at("fields").at(i + kTokenFields);
}

// The field's key, or null when it has none.
inline json Key(const json& packet, size_t i, const char* key) {
  const json& f = Field(packet, i);
  return f.contains(key) ? f[key] : json();
}

}  // namespace reqfix
