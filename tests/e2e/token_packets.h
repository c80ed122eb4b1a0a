// Hex lines of single-token TDS packets for the end-to-end tests of the token decoders.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "tdsdecode_runner.h"

namespace tokenhex {

inline std::string Digits(const std::string& hex) {
  std::string out;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

// A normal TDS packet (type 15, last buffer, packet 0, window 0) around the token bytes. The
// header's length counts `extra` bytes more than given, for packets the frame cuts short.
inline std::string Packet(const std::string& tokenHex, int channel = 0, int extra = 0) {
  const std::string body = Digits(tokenHex);
  char header[32];
  std::snprintf(header, sizeof(header), "0f01%04x%04x0000",
                static_cast<unsigned>(8 + body.size() / 2 + static_cast<size_t>(extra)),
                static_cast<unsigned>(channel));
  return header + body;
}

// One hex input line: direction ("c", "s", "2s", ...) and one packet.
inline std::string Line(const std::string& dir, const std::string& tokenHex, int channel = 0) {
  return dir + " " + Packet(tokenHex, channel) + "\n";
}

// The first packet of a decoded frame.
inline const nlohmann::json& FirstPacket(const RunResult& run, size_t frame) {
  return run.frames.at(frame).at("packets").at(0);
}

// Labels of a packet after its header and token type (the token's own fields and the Pad).
inline std::vector<std::string> TokenLabels(const nlohmann::json& packet) {
  std::vector<std::string> labels = Labels(packet);
  const size_t skip = 7;  // six header fields and "TDS Token Type"
  if (labels.size() <= skip) return {};
  return std::vector<std::string>(labels.begin() + skip, labels.end());
}

// One expected field: label, offset, size, format and value (null: not checked).
struct Want {
  std::string label;
  int offset;
  int size;
  std::string format;
  nlohmann::json value = nullptr;
};

// The fields after the header and "TDS Token Type", exactly these and in this order.
inline void ExpectTokenFields(const nlohmann::json& packet, const std::vector<Want>& want) {
  const nlohmann::json& fields = packet.at("fields");
  ASSERT_EQ(fields.size(), want.size() + 7) << packet.dump();
  for (size_t i = 0; i < want.size(); ++i) {
    const nlohmann::json& f = fields[i + 7];
    const Want& w = want[i];
    SCOPED_TRACE("field " + std::to_string(i) + " " + w.label);
    EXPECT_EQ(f["label"], w.label);
    EXPECT_EQ(f["offset"], w.offset);
    EXPECT_EQ(f["size"], w.size);
    EXPECT_EQ(f["format"], w.format);
    if (!w.value.is_null()) {
      EXPECT_EQ(f["value"], w.value);
    }
  }
}

// The token's i-th field (from 0, after "TDS Token Type").
inline const nlohmann::json& TokenField(const nlohmann::json& packet, size_t i) {
  return packet.at("fields").at(i + 7);
}

}  // namespace tokenhex
