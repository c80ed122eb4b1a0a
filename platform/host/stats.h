// Counters the host keeps while decoding, and the summary printed with --stats.
#pragma once

#include <cstdint>

#include "streams/seq_tracker.h"
#include "tdsengine/out_buffer.h"
#include "views/message_stats.h"

struct HostStats {
  uint64_t framesRead = 0;      // records of the inputs
  uint64_t framesTooShort = 0;  // ended inside their link, IP or TCP header
  uint64_t tcpPayloadSegments = 0;
  uint64_t segmentsCutByCapture = 0;  // captured with fewer payload bytes than they carried
  uint64_t framesDecoded = 0;         // frames handed to the decoder
  uint64_t framesCutShort = 0;        // decoded frames in which a field was refused
  uint64_t tdsPackets = 0;
  uint64_t messageTypes[256] = {};
  const char* messageTypeText[256] = {};
  uint64_t firstTokens[256] = {};
  const char* tokenText[256] = {};
  uint64_t tcpConnections = 0;        // connections seen
  uint64_t tdsConnections = 0;        // of those, carrying TDS
  uint64_t connectionsEvicted = 0;    // past the ceiling of tracked connections: the idlest
  uint64_t connectionsCut = 0;        // past the held-bytes ceiling: the one holding the most
  uint64_t bytesCut = 0;              // held by those when they were cut
  uint64_t formatRecordsRefused = 0;  // filed with a connection's store full, so not kept
  uint64_t bytesSkipped = 0;          // before the first packet start of a stream joined midway
  uint64_t heldBytesAtEnd = 0;        // held when a stream ended, handed over as they were
  uint64_t heldBytesAtGaps = 0;       // held when bytes before them were lost, handed over as well
  StreamCounters stream;
  MessageStats messageView;  // filled by the message view only
};

void PrintStatsText(const HostStats& stats, OutBuffer& out);
// {"stats": {...}} on one line.
void PrintStatsJson(const HostStats& stats, OutBuffer& out);
