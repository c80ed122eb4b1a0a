#include "token_packets.h"

#include <cctype>
#include <cstdio>

namespace tokenhex {

std::string Packet(const std::string& dataHex, int channel, int extra, int type, int status) {
  std::string body;
  for (char c : dataHex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) body += c;
  }
  char header[32];
  std::snprintf(header, sizeof(header), "%02x%02x%04x%04x0000", static_cast<unsigned>(type),
                static_cast<unsigned>(status),
                static_cast<unsigned>(8 + body.size() / 2 + static_cast<size_t>(extra)),
                static_cast<unsigned>(channel));
  return header + body;
}

std::vector<json> Packets(const std::string& hex, size_t frames, RunResult* whole) {
  RunResult run = DecodeHex(hex);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.frames.size(), frames) << run.out;
  std::vector<json> packets;
  for (const json& frame : run.frames) packets.push_back(frame.at("packets").at(0));
  packets.resize(frames, json::object());
  if (whole) *whole = std::move(run);
  return packets;
}

json FrameOf(const RunResult& run, int number) {
  for (const json& frame : run.frames) {
    if (frame["frame"] == number) return frame.at("packets").at(0);
  }
  ADD_FAILURE() << "no frame " << number;
  return json::object();
}

Names TokenLabels(const json& packet) {
  const Names labels = Labels(packet);
  if (labels.size() <= kTokenFields) return {};
  return Names(labels.begin() + kTokenFields, labels.end());
}

std::vector<Want> With(std::vector<Want> head, const std::vector<Want>& more) {
  head.insert(head.end(), more.begin(), more.end());
  return head;
}

void ExpectByLabel(const json& packet, const json& want) {
  for (auto it = want.begin(); it != want.end(); ++it) {
    SCOPED_TRACE(it.key());
    const json* f = FindField(packet, it.key());
    if (!f) {
      ADD_FAILURE() << "no field " << it.key();
      continue;
    }
    ExpectHas(*f, *it);
  }
}

void ExpectFieldsFrom(const json& packet, size_t first, const std::vector<Want>& want) {
  const json& fields = packet.at("fields");
  ASSERT_EQ(fields.size(), want.size() + first) << packet.dump();
  for (size_t i = 0; i < want.size(); ++i) {
    const json& f = fields[i + first];
    const Want& w = want[i];
    SCOPED_TRACE("field " + std::to_string(i) + " \"" + w.label + "\"");
    EXPECT_EQ(f["label"], w.label);
    EXPECT_EQ(f["offset"], w.offset);
    EXPECT_EQ(f["size"], w.size);
    EXPECT_EQ(f["format"], w.format);
    if (!w.value.is_null()) {
      EXPECT_EQ(f["value"], w.value);
    }
    ExpectHas(f, w.keys);
  }
}

}  // namespace tokenhex
