// The message entry: one whole TDS message of one direction, walked token by token with the
// same decoders as the packet entry. Each token is decoded over exactly its own bytes (its
// extent from the framer), so a decoder that stops early or is refused costs only its token.
#include "tdsengine/message.h"

#include <cstdio>

#include "engine/emit.h"
#include "entry/byte_order.h"
#include "entry/packet_state.h"
#include "entry/token_extent.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tables/message_view.h"
#include "tables/packet.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

#define TDS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kLoginRecordSize = 564;
// Clients send four more bytes after the record, then their CAPABILITY token.
constexpr int32_t kLoginTrailerSize = 4;
constexpr uint8_t kCapabilityToken = 0xE2;

constexpr FieldDef kPad = Plain("Pad", 0, FF_NONE);
constexpr FieldDef kLoginTrailer = Plain("Login Record Trailer", 0, FF_DUMP, " byte(s) of data");
constexpr FieldDef kMessageData = Plain("Message Data", 0, FF_DUMP, " byte(s) of data");

struct Walk {
  const uint8_t* frame;
  CPDecode* tree;
  const uint8_t* data;
  int32_t length;
  TdsMessageWalk* out;
};

int32_t ConnectionOrder() {
  return ConnByteOrder == BO_LSB_FIRST ? BO_LSB_FIRST : BO_MSB_FIRST;
}

void SetPacketLeft(int32_t n) {
  PacketLeft = static_cast<uint16_t>(n > 0xFFFF ? 0xFFFF : n);
}

const char* TokenTextOf(uint8_t token) {
  const int row = PIgetInterpretationString(1, token, Rows(TokenTypeTable), TokenTypeTable);
  return TokenTypeTable[row].text;
}

void EndWalk(Walk& walk, int32_t at, const char* reason) {
  walk.out->restOffset = at;
  walk.out->restSize = walk.length - at;
  walk.out->restReason = reason;
}

// The format a data token at `at` is decoded with, looked up as its decoder will.
bool HasFormat(const uint8_t* at, int32_t available) {
  switch (at[0]) {
    case 0xD1:
      return FindFormatRecord(ConversationKey(0xD1, 0)) != nullptr;
    case 0xCA:
      return FindFormatRecord(ConversationKey(0xCA, 0)) != nullptr;
    case 0xD7:
      return FindFormatRecord(ConversationKey(0xEC, 0)) != nullptr;
    default:  // ALTROW: the compute id follows the type byte
      if (available < 3) return false;
      return FindFormatRecord(ConversationKey(0xA8, ReadCount(at + 1, 2))) != nullptr;
  }
}

// Decodes one token over `size` bytes (the whole rest of the message for a data token) and
// returns the bytes its decoder consumed, or -1 when it was refused or stopped. With padRest,
// the token's bytes that the decoder left (also when it stopped) are shown as "Pad", so that
// every byte of a sized token is accounted for.
int32_t DecodeOneToken(Walk& walk, const uint8_t* start, int32_t size, bool padRest) {
  CParser parser(walk.frame, start, "Sybase TDS", TdsInfoKind, 1);
  parser.SetEndianess(ConnByteOrder == BO_LSB_FIRST ? 0 : 1);
  const uint8_t* cursor = start;
  int32_t remaining = size;
  SetPacketLeft(size);
  const int32_t result = DecodeToken(walk.tree, cursor, remaining, 0, &parser);
  const int32_t used = static_cast<int32_t>(cursor - start);
  if (padRest && remaining > 0) {
    Out out{walk.tree, cursor, remaining, 0, &parser};
    Emit(out, kPad, remaining);
  }
  PacketLeft = 0;
  return result == -1 ? -1 : used;
}

void Title(Walk& walk, const char* name, const char* text, int32_t token, int32_t at,
           int32_t size) {
  CParser parser(walk.frame, walk.data + at, "Sybase TDS", TdsInfoKind, 1);
  PIOutputTitleToCPDecode(name, text, walk.tree, parser);
  PIMarkTokenSpan(walk.tree, token, at, size);
  ++walk.out->tokens;
}

// Walks tokens from `at` to the end of the message.
void WalkTokens(Walk& walk, int32_t at) {
  while (at < walk.length) {
    const uint8_t* start = walk.data + at;
    const int32_t available = walk.length - at;
    const uint8_t token = start[0];
    SetSteeringByteOrder(ConnectionOrder());
    const TokenExtent extent = FrameToken(start, available, ConnectionOrder());
    if (extent.kind == ExtentKind::Unknown) {
      EndWalk(walk, at, "token type without a length rule");
      return;
    }
    if (extent.kind == ExtentKind::DataRow) {
      if (!HasFormat(start, available)) {
        EndWalk(walk, at, "no stored format for this data token");
        return;
      }
      Title(walk, TokenNameOf(token), TokenTextOf(token), token, at, 0);
      const int32_t used = DecodeOneToken(walk, start, available, false);
      if (used <= 0) {
        // Without a complete row its end is unknown: the rest of the message is left as is.
        PIMarkTokenSpan(walk.tree, token, at, available);
        EndWalk(walk, at, "data token does not fit its stored format");
        return;
      }
      PIMarkTokenSpan(walk.tree, token, at, used);
      at += used;
      continue;
    }
    Title(walk, TokenNameOf(token), TokenTextOf(token), token, at, extent.size);
    DecodeOneToken(walk, start, extent.size, true);
    at += extent.size;
  }
}

void WalkLogin(Walk& walk) {
  const int32_t recordSize = walk.length < kLoginRecordSize ? walk.length : kLoginRecordSize;
  const bool trailer = walk.length > kLoginRecordSize + kLoginTrailerSize &&
                       walk.data[kLoginRecordSize + kLoginTrailerSize] == kCapabilityToken;
  const int32_t span = trailer ? kLoginRecordSize + kLoginTrailerSize : recordSize;
  Title(walk, "LOGIN", PacketTypeTable[1].text, -1, 0, span);
  CParser parser(walk.frame, walk.data, "Sybase TDS", TdsInfoKind, 1);
  parser.SetEndianess(ConnByteOrder == BO_LSB_FIRST ? 0 : 1);
  const uint8_t* cursor = walk.data;
  int32_t remaining = recordSize;
  SetPacketLeft(kLoginRecordSize);
  SetSteeringByteOrder(0);  // the record's own fields steer nothing
  const bool whole = DecodeLogin(walk.tree, cursor, remaining, 0, &parser) != -1;
  PacketLeft = 0;
  if (!whole || walk.length < kLoginRecordSize) {
    if (walk.length > recordSize) EndWalk(walk, recordSize, "login record cut short");
    return;
  }
  FetchByteOrder(walk.tree);  // the record just filed the connection's order
  int32_t at = kLoginRecordSize;
  if (trailer) {
    int32_t left = kLoginTrailerSize;
    Out out{walk.tree, cursor, left, 0, &parser};
    Emit(out, kLoginTrailer, kLoginTrailerSize);
    at += kLoginTrailerSize;
  }
  WalkTokens(walk, at);
}

void DumpMessage(Walk& walk, int32_t messageType) {
  const int row = PIgetInterpretationString(1, static_cast<int16_t>(messageType),
                                            Rows(PacketTypeTable), PacketTypeTable);
  Title(walk, "DATA", PacketTypeTable[row].text, -1, 0, walk.length);
  CParser parser(walk.frame, walk.data, "Sybase TDS", TdsInfoKind, 1);
  const uint8_t* cursor = walk.data;
  int32_t remaining = walk.length;
  Out out{walk.tree, cursor, remaining, 0, &parser};
  Emit(out, kMessageData, walk.length);
}

}  // namespace

TDS_EXPORT int32_t sybasetds_parse_message(const uint8_t* frame, CPDecode* tree,
                                           const uint8_t* data, int32_t length, int32_t messageType,
                                           int32_t channel, TdsMessageWalk* walkOut) {
  TdsMessageWalk scratch{};
  TdsMessageWalk* out = walkOut ? walkOut : &scratch;
  *out = TdsMessageWalk{0, length, 0, ""};
  if (!frame || !tree || !data || length < 0) return 0;
  FrameBase = frame;
  PacketChannel = static_cast<int16_t>(channel);
  FetchByteOrder(tree);
  Walk walk{frame, tree, data, length, out};
  int32_t result = 0;
  switch (messageType) {
    case 2:
      WalkLogin(walk);
      break;
    case 4:
    case 15:
    case 16:
      WalkTokens(walk, 0);
      break;
    default:
      if (messageType < 1 || messageType > 16) result = 1;
      if (length > 0) DumpMessage(walk, messageType);
      break;
  }
  SetSteeringByteOrder(0);
  PacketLeft = 0;
  return result;
}
