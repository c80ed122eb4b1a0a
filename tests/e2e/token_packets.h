// Hex lines of single-token TDS packets, and the token's decoded fields checked in order after
// the packet header and the token type, for the end-to-end tests of the token decoders.
#pragma once
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tdsdecode_runner.h"

namespace tokenhex {

using nlohmann::json;
using Names = std::vector<std::string>;

// Index of the first field after the six header fields and "TDS Token Type".
constexpr size_t kTokenFields = 7;

// A TDS packet (channel 0, packet 0, window 0) around the data bytes (spaces allowed). The
// header's length counts `extra` bytes more than given, for packets the frame cuts short.
std::string Packet(const std::string& dataHex, int channel = 0, int extra = 0, int type = 15,
                   int status = 1);

// One hex input line: direction ("c", "s", "2s", ...) and one type-15 packet.
inline std::string Line(const std::string& dir, const std::string& tokenHex, int channel = 0) {
  return dir + " " + Packet(tokenHex, channel) + "\n";
}

// The same, the header claiming `extra` bytes more than the frame holds.
inline std::string Cut(const std::string& dir, const std::string& tokenHex, int extra) {
  return dir + " " + Packet(tokenHex, 0, extra) + "\n";
}

// Decodes the lines as captured and returns the first packet of every frame; `frames` of them
// are expected (a missing one is an empty object). The whole run goes to `run` when given.
std::vector<json> Packets(const std::string& hex, size_t frames, RunResult* run = nullptr);

// The first packet of the frame with this number in a capture's run.
json FrameOf(const RunResult& run, int number);

// The token's i-th field (from 0, after "TDS Token Type"), and one of its keys (null: none).
inline const json& Field(const json& packet, size_t i) {
  return packet.at("fields").at(i + kTokenFields);
}
inline json Key(const json& packet, size_t i, const char* key) {
  const json& f = Field(packet, i);
  return f.contains(key) ? f[key] : json();
}

// Labels of a packet after its header and token type (the token's own fields and the Pad).
Names TokenLabels(const json& packet);

// Keys a field has beside its value (kAbsent: the field has no such key).
inline json Note(const json& note) {
  return {{"note", note}};
}
inline json Text(const json& text) {
  return {{"text", text}};
}
inline json Bits(const std::vector<std::string>& bits) {
  return {{"bits", bits}};
}
inline const json kBytes = Note(" byte(s)");
inline const json kNoNote = Note(kAbsent);

// One expected field: label, offset, size, format, value (null: not checked) and other keys.
struct Want {
  std::string label;
  int offset;
  int size;
  std::string format;
  json value = nullptr;
  json keys = json::object();
};

// The wanted fields `head` followed by `more`.
std::vector<Want> With(std::vector<Want> head, const std::vector<Want>& more);

// The first field of each label of `want` has the keys given for it.
void ExpectByLabel(const json& packet, const json& want);

// The packet's fields from the `first` on, exactly these and in this order.
void ExpectFieldsFrom(const json& packet, size_t first, const std::vector<Want>& want);

// The token's fields, exactly these and in this order.
inline void ExpectFields(const json& packet, const std::vector<Want>& want) {
  ExpectFieldsFrom(packet, kTokenFields, want);
}

}  // namespace tokenhex
