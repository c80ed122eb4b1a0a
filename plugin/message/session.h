// What the message view keeps of a connection between its messages: the byte order and
// character set in force, and the formats each direction sent, which the data tokens after them
// (in later messages too) are read with.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tdsengine/engine.h"
#include "tdswire/charset.h"
#include "tdswire/format.h"

// Ceilings: formats kept per connection for compute clauses and for dynamic statements. Past
// them the oldest is dropped (its data tokens are then shown undecoded).
constexpr size_t kMaxComputeFormats = 64;
constexpr size_t kMaxStatements = 64;

struct KeptFormat {
  bool valid = false;
  WireFormat format;                   // names already decoded to UTF-8
  std::vector<uint8_t> valueFlags;     // per column: VF_PLAIN_NAME for a name JSON takes as is
  std::vector<const char*> typeNames;  // per column: its SQL type name
  // Per column: the size of a fixed-size type without a status byte before it, else 0.
  std::vector<uint8_t> fixedSizes;
  // The walk whose display tree has this format's columns, and the first one's number there.
  mutable uint64_t walk = 0;
  mutable int32_t firstColumn = -1;
};

// A dynamic statement's formats: the client's last parameter format for it (re-executions may
// leave it out) and the server's description of its result rows.
struct StatementFormats {
  std::string id;
  KeptFormat params;
  KeptFormat rows;
};

struct Direction {
  KeptFormat rows;    // ROWFMT, ROWFMT2
  KeptFormat params;  // PARAMFMT, PARAMFMT2
};

// What only some connections need: compute clauses and dynamic statements. Kept apart so
// that a connection that uses neither costs a pointer for them.
struct SessionExtras {
  std::vector<KeptFormat> computes;  // ALTFMT, by compute id
  std::vector<StatementFormats> statements;
  // The statement the latest DYNAMIC of each direction named, and whether its row format
  // (DESCOUT) follows in the same message.
  std::string lastStatement[2];
  bool describingOutput = false;
  bool describingInput = false;
};

struct MessageSession {
  int32_t order = 0;     // kWalkOrder*: from the login record, 0 until one was seen
  int32_t framedIn = 0;  // kWalkOrder*: the order the kept formats were read in
  Charset charset = Charset::kIso1;
  uint8_t notIeee = 0;  // FloatFormats: float formats of the login record other than IEEE 754
  // The formats of each direction (0 client to server, 1 server to client), made on first use:
  // a connection that sends no format costs nothing for them.
  std::unique_ptr<Direction> dirs[2];
  Direction& Dir(int dir) {
    std::unique_ptr<Direction>& d = dirs[dir & 1];
    if (!d) d.reset(new Direction());
    return *d;
  }
  // Whether the direction has a row (or parameter) format in force.
  bool HasRows(int dir) const { return dirs[dir & 1] && dirs[dir & 1]->rows.valid; }
  bool HasParams(int dir) const { return dirs[dir & 1] && dirs[dir & 1]->params.valid; }
  std::unique_ptr<SessionExtras> extras;  // made on first use
  SessionExtras& More() {
    if (!extras) extras.reset(new SessionExtras());
    return *extras;
  }
};

// The session of the connection the tree belongs to, created on first use; null when the
// store refuses it (then the message is walked with a scratch session).
MessageSession* SessionOf(CPDecode* tree);
// A session for a trial walk, emptied.
MessageSession* ScratchSession();

// The statement's formats, created (dropping the oldest past the ceiling) when asked to.
StatementFormats* FindStatement(MessageSession& s, const std::string& id, bool create);
// Keeps a parsed format with its names decoded from the connection's character set.
void KeepFormat(const MessageSession& s, const WireFormat& parsed, KeptFormat& into);
