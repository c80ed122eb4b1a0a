// Typical frames for the in-process benchmarks, built with the capture generator's builders:
// each is an Ethernet header followed by the TDS bytes the decoder is handed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchFrame {
  std::string name;
  std::vector<uint8_t> block;  // Ethernet header, then the TDS bytes
  size_t tdsOffset = 14;
  // A message for the message entry: its data (headers removed) and type.
  std::vector<uint8_t> message;
  int32_t messageType = 0;
};

// A login record in one packet (most significant byte first), the byte-order record it files
// is what the other frames are decoded under.
BenchFrame LoginFrame();
// ROWFMT of 40 columns of many datatype classes, in a normal-request packet.
BenchFrame RowFmtFrame();
// One ROW of that format.
BenchFrame RowFrame();
// An ERROR message.
BenchFrame ErrorFrame();
// An RPC with eight inline parameters.
BenchFrame RpcFrame();
// CAPABILITY with a 7-byte request and a 5-byte response mask.
BenchFrame CapabilityFrame();
// A whole response message (ROWFMT of 40 columns, 20 rows, DONE) for the message entry.
BenchFrame ResultMessage();
