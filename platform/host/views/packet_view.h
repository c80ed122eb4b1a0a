// The packet view: every TDS frame handed to sybasetds_parse as the analyser would, and its
// display tree rendered. With reassembly a frame is the complete TDS packets that a segment
// finishes; without it, each segment's payload as captured.
#pragma once

#include <cstdint>
#include <vector>

#include "options.h"
#include "plugin_loader.h"
#include "stats.h"
#include "streams/packet_framer.h"
#include "streams/stream_piece.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/store.h"

class PacketView : public View {
 public:
  PacketView(ParseEntry parse, const Options& options, OutBuffer& out, HostStats& stats);
  ~PacketView() override;

  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;
  // Every conversation store released (end of an input).
  void EndAll();

  // Decodes one frame: `data` (length bytes) are the TDS bytes; `block`, when not null, is
  // the captured frame holding them, else one is built from the Ethernet header.
  void Decode(uint32_t conn, bool clientToServer, uint64_t frame, const uint8_t* ethernet,
              const uint8_t* block, const uint8_t* data, size_t length);

  std::vector<uint8_t>& scratch() { return m_scratch; }

 private:
  void Count();

  ParseEntry m_parse;
  const Options& m_options;
  OutBuffer& m_out;
  HostStats& m_stats;
  StoreRegistry m_registry;
  DisplayTree m_tree;
  std::vector<uint8_t> m_scratch;  // framers assemble packets here
  std::vector<uint8_t> m_block;    // frame blocks built around copied bytes
};
