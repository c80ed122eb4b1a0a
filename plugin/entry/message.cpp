// The message entry: one whole TDS message of one direction, walked token by token with the
// layouts real clients and servers send. Each token is decoded over exactly its own bytes (its
// extent from the framing rules), so a decoder that stops early costs only its token; data
// tokens are framed by the format in force and show their values.
#include "tdsengine/message.h"

#include <string>

#include "engine/emit.h"
#include "entry/byte_order.h"
#include "entry/packet_state.h"
#include "message/message_token.h"
#include "message/session.h"
#include "tables/packet.h"
#include "tables/real_layouts.h"
#include "tdswire/framing.h"
#include "tdswire/values.h"
#include "tokens/decoders.h"

#define TDS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kLoginRecordSize = 564;
// Clients send four more bytes after the record, then their CAPABILITY token.
constexpr int32_t kLoginTrailerSize = 4;
constexpr uint8_t kCapabilityToken = 0xE2;
// Login record: the 2-byte integer order (2 = most significant byte first), the character
// set name and its length.
constexpr int32_t kInt2OrderAt = 124;
constexpr uint8_t kInt2MsbFirst = 2;
constexpr int32_t kCharsetAt = 525;
// The float formats: 8-byte floats at 127 (4 and 10 are IEEE 754, most and least significant
// byte first), 4-byte floats at 478 (12 and 13). Clients of machines with other formats
// announce 5, 11, 14 or 15 there.
constexpr int32_t kFloat8FormatAt = 127;
constexpr int32_t kFloat4FormatAt = 478;
constexpr int32_t kCharsetLengthAt = 555;
constexpr int32_t kCharsetField = 30;
// Completion statuses use bits 0x0001 to 0x0040 only; anything above says the order is wrong.
constexpr uint32_t kDoneStatusBits = 0x007F;
// Message types run from 1 (language) to 17 (migrate).
constexpr int32_t kLastMessageType = 17;

constexpr FieldDef kTokenType{
    "TDS Token Type",         1,           FF_HEX,  MessageTokenTypeTable.rows,
    MessageTokenTypes::kRows, kWholeValue, nullptr, BO_PARSER};
constexpr FieldDef kUndecoded = Plain("Undecoded data", 0, FF_DUMP, " byte(s) of data");
constexpr FieldDef kLoginTrailer = Plain("Login Record Trailer", 0, FF_DUMP, " byte(s) of data");
constexpr FieldDef kMessageData = Plain("Message Data", 0, FF_DUMP, " byte(s) of data");
constexpr const char* kPasswordLabels[] = {"Client Passwd", "Remote Server Name/Password Pairs"};

// Names of the login record: fixed-size fields, padded, whose length follows in a byte of its
// own. The message view shows each as the text its length gives.
struct LoginName {
  const char* label;
  int32_t at;
  int32_t size;
  int32_t lengthAt;
};
constexpr LoginName kLoginNames[] = {
    {"Host Name", 0, 30, 30},
    {"User Name", 31, 30, 61},
    {"Process Identifier", 93, 30, 123},
    {"Application Name", 140, 30, 170},
    {"Server Name", 171, 30, 201},
    {"Client Library Name", 462, 10, 472},
    {"Requested National Language", 480, 30, 510},
    {"Character Set Name", 525, 30, 555},
    {"Packet Size", 557, 6, 563},
};
constexpr char kMasked[] = "********";

struct Walk {
  const uint8_t* frame;
  CPDecode* tree;
  const uint8_t* data;
  int32_t length;
  TdsMessageWalk* out;
  MessageSession* session;
  int dir;
  bool msbFirst;
  bool raw;  // the order is undecided: values read in it are shown as raw bytes
};

uint64_t g_walk = 0;

std::string& Scratch() {
  static std::string scratch;
  return scratch;
}

void SetPacketLeft(int32_t n) {
  PacketLeft = static_cast<uint16_t>(n > 0xFFFF ? 0xFFFF : n);
}

const char* TextOfToken(uint8_t token) {
  const int row =
      PIgetInterpretationString(1, token, MessageTokenTypes::kRows, MessageTokenTypeTable.rows);
  return MessageTokenTypeTable.rows[row].text;
}

const char* NameOfToken(uint8_t token) {
  const char* name = WireTokenName(token);
  return name ? name : "UNKNOWN";
}

void EndWalk(Walk& walk, int32_t at, const char* reason) {
  walk.out->restOffset = at;
  walk.out->restSize = walk.length - at;
  walk.out->restReason = reason;
}

void Title(Walk& walk, const char* name, const char* text, int32_t token, int32_t at,
           int32_t size) {
  CParser parser(walk.frame, walk.data + at, "Sybase TDS", TdsInfoKind, 1);
  PIOutputTitleToCPDecode(name, text, walk.tree, parser);
  PIMarkTokenSpan(walk.tree, token, at, size);
  ++walk.out->tokens;
}

// Whether the data token at `start` has a format to be read with.
bool HasFormat(const Walk& walk, const uint8_t* start, int32_t available) {
  const MessageSession& s = *walk.session;
  switch (start[0]) {
    case 0xD1:
      return s.HasRows(walk.dir);
    case 0xCA:
      return s.HasRows(1);
    case 0xD7:
      return s.HasParams(walk.dir);
    default: {  // ALTROW: the compute id follows the type byte
      if (available < 3) return false;
      const uint32_t id = static_cast<uint32_t>(WireUint(start + 1, 2, walk.msbFirst));
      if (!s.extras) return false;
      for (const KeptFormat& k : s.extras->computes)
        if (k.valid && k.format.id == id) return true;
      return false;
    }
  }
}

// Decodes the token at `start` over `size` bytes after showing its type. Returns the result of
// its decoder (0, kNoFormat, or -1 when a field was refused); *used is where it stopped.
int32_t DecodeOneToken(Walk& walk, const uint8_t* start, int32_t size, int32_t* used) {
  CParser parser(walk.frame, start, "Sybase TDS", TdsInfoKind, 1);
  parser.SetEndianess(walk.msbFirst ? 1 : 0);
  ConnByteOrder = walk.msbFirst ? BO_MSB_FIRST : BO_LSB_FIRST;
  SetSteeringByteOrder(ConnByteOrder);
  const uint8_t* cursor = start;
  int32_t remaining = size;
  SetPacketLeft(size);
  Out out{walk.tree, cursor, remaining, 0, &parser};
  int32_t result = -1;
  if (Emit(out, kTokenType)) {
    if (const MessageDecoder decoder = MessageDecoderOf(start[0])) {
      MessageToken t{walk.tree,     *walk.session, walk.dir,
                     walk.msbFirst, walk.raw,      (walk.out->flags & kWalkShowPasswords) != 0,
                     start,         size,          Scratch()};
      const int32_t r = decoder(t, out);
      result = r < 0 ? r : 0;
    } else {
      result = DecoderOfToken(start[0])(walk.tree, cursor, remaining, 0, &parser);
    }
  }
  PacketLeft = 0;
  *used = static_cast<int32_t>(cursor - start);
  return result;
}

void CountImplausible(Walk& walk, const uint8_t* start, int32_t size) {
  if (start[0] < 0xFD || size < 3) return;
  if (WireUint(start + 1, 2, walk.msbFirst) > kDoneStatusBits) ++walk.out->implausible;
}

// Walks tokens from `at` to the end of the message.
void WalkTokens(Walk& walk, int32_t at) {
  while (at < walk.length) {
    const uint8_t* start = walk.data + at;
    const int32_t available = walk.length - at;
    const uint8_t token = start[0];
    const TokenFrame frame = FrameToken(start, available, walk.msbFirst);
    if (frame.length == TokenLength::kUnknown) {
      EndWalk(walk, at, "token type without a length rule");
      return;
    }
    if (frame.length == TokenLength::kData) {
      if (!HasFormat(walk, start, available)) {
        EndWalk(walk, at, "no stored format for this data token");
        return;
      }
      Title(walk, NameOfToken(token), TextOfToken(token), token, at, 0);
      int32_t used = 0;
      if (DecodeOneToken(walk, start, available, &used) < 0 || used <= 0) {
        // Without a complete row its end is unknown: the rest of the message is left as is.
        PIMarkTokenSpan(walk.tree, token, at, available);
        EndWalk(walk, at, "data token does not fit its format");
        return;
      }
      PIMarkTokenSpan(walk.tree, token, at, used);
      at += used;
      continue;
    }
    Title(walk, NameOfToken(token), TextOfToken(token), token, at, frame.size);
    CountImplausible(walk, start, frame.size);
    int32_t used = 0;
    DecodeOneToken(walk, start, frame.size, &used);
    if (used > 0 && used < frame.size) {
      // Bytes inside the token's length that its layout does not account for, or that follow
      // a field the token could not hold.
      CParser parser(walk.frame, start + used, "Sybase TDS", TdsInfoKind, 1);
      const uint8_t* cursor = start + used;
      int32_t left = frame.size - used;
      Out out{walk.tree, cursor, left, used, &parser};
      Emit(out, kUndecoded, left);
    }
    if (frame.cut) ++walk.out->implausible;
    at += frame.size;
  }
}

// The character set the login record names (ISO-8859-1 when it names none).
Charset LoginCharset(const Walk& walk) {
  const int32_t n = walk.data[kCharsetLengthAt];
  if (n <= 0 || n > kCharsetField) return Charset::kIso1;
  return CharsetByName(reinterpret_cast<const char*>(walk.data + kCharsetAt),
                       static_cast<size_t>(n));
}

bool NotIeee(uint8_t floatFormat) {
  return floatFormat == 5 || floatFormat == 11 || floatFormat == 14 || floatFormat == 15;
}

// The login record fixes the connection's byte order, float formats and character set.
void NoteLogin(Walk& walk) {
  if (walk.length < kLoginRecordSize) return;
  MessageSession& s = *walk.session;
  s.order = walk.data[kInt2OrderAt] == kInt2MsbFirst ? kWalkOrderBig : kWalkOrderLittle;
  s.notIeee = static_cast<uint8_t>((NotIeee(walk.data[kFloat4FormatAt]) ? kFloat4NotIeee : 0) |
                                   (NotIeee(walk.data[kFloat8FormatAt]) ? kFloat8NotIeee : 0));
  if (walk.data[kCharsetLengthAt] > 0) s.charset = LoginCharset(walk);
}

void WalkLogin(Walk& walk) {
  const int32_t recordSize = walk.length < kLoginRecordSize ? walk.length : kLoginRecordSize;
  const bool trailer = walk.length > kLoginRecordSize + kLoginTrailerSize &&
                       walk.data[kLoginRecordSize + kLoginTrailerSize] == kCapabilityToken;
  const int32_t span = trailer ? kLoginRecordSize + kLoginTrailerSize : recordSize;
  Title(walk, "LOGIN", PacketTypeTable[1].text, -1, 0, span);
  CParser parser(walk.frame, walk.data, "Sybase TDS", TdsInfoKind, 1);
  parser.SetEndianess(walk.msbFirst ? 1 : 0);
  const uint8_t* cursor = walk.data;
  int32_t remaining = recordSize;
  SetPacketLeft(kLoginRecordSize);
  SetSteeringByteOrder(0);  // the record's own fields steer nothing
  const bool whole = DecodeLogin(walk.tree, cursor, remaining, 0, &parser) != -1;
  PacketLeft = 0;
  if (!(walk.out->flags & kWalkShowPasswords))
    for (const char* label : kPasswordLabels) PIReplaceFieldText(walk.tree, label, kMasked);
  if (walk.length >= kLoginRecordSize) {
    const Charset charset = LoginCharset(walk);
    for (const LoginName& n : kLoginNames) {
      const int32_t used = walk.data[n.lengthAt] < n.size ? walk.data[n.lengthAt] : n.size;
      std::string& text = Scratch();
      text.clear();
      // A name stops at its first zero byte, whatever its length says.
      int32_t end = 0;
      while (end < used && walk.data[n.at + end] != 0) ++end;
      AppendDecoded(charset, walk.data + n.at, static_cast<size_t>(end), text);
      PIReplaceFieldText(walk.tree, n.label, text.c_str());
    }
  }
  if (!whole || walk.length < kLoginRecordSize) {
    if (walk.length > recordSize) EndWalk(walk, recordSize, "login record cut short");
    return;
  }
  NoteLogin(walk);
  if (!walk.out->forceOrder) {
    walk.raw = false;
    walk.msbFirst = walk.session->order == kWalkOrderBig;
    walk.session->framedIn = walk.session->order;
    walk.out->order = walk.session->order;
    walk.out->orderSource = kOrderFromLogin;
  }
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
  const CPICodeTable* types = MessageTypeTable.rows;
  const int row = PIgetInterpretationString(1, static_cast<int16_t>(messageType),
                                            Rows(MessageTypeTable.rows), types);
  Title(walk, "DATA", types[row].text, -1, 0, walk.length);
  CParser parser(walk.frame, walk.data, "Sybase TDS", TdsInfoKind, 1);
  const uint8_t* cursor = walk.data;
  int32_t remaining = walk.length;
  Out out{walk.tree, cursor, remaining, 0, &parser};
  Emit(out, kMessageData, walk.length);
}

// The byte order the message is walked in, and where it came from.
void ChooseOrder(Walk& walk) {
  TdsMessageWalk& w = *walk.out;
  if (w.forceOrder) {
    w.order = w.forceOrder;
    w.orderSource = kOrderFromOption;
  } else if (walk.session->order) {
    w.order = walk.session->order;
    w.orderSource = kOrderFromLogin;
  } else if (w.guessOrder) {
    w.order = w.guessOrder;
    w.orderSource = kOrderFromInferred;
  } else {
    w.order = kWalkOrderNone;
    w.orderSource = kOrderFromNone;
  }
  walk.msbFirst = w.order == kWalkOrderBig;
  walk.raw = w.order == kWalkOrderNone;
}

// Formats kept while the connection was framed in one order are not read in the other: an
// undecided connection is framed least significant byte first until a message decides.
void KeepFramingOrder(Walk& walk) {
  MessageSession& s = *walk.session;
  const int32_t framing = walk.msbFirst ? kWalkOrderBig : kWalkOrderLittle;
  if (s.framedIn != kWalkOrderNone && s.framedIn != framing) {
    s.dirs[0].reset();
    s.dirs[1].reset();
    s.extras.reset();
  }
  s.framedIn = framing;
}

}  // namespace

uint64_t CurrentWalk() {
  return g_walk;
}

TDS_EXPORT int32_t sybasetds_parse_message(const uint8_t* frame, CPDecode* tree,
                                           const uint8_t* data, int32_t length, int32_t messageType,
                                           int32_t channel, TdsMessageWalk* walkOut) {
  TdsMessageWalk scratch{};
  TdsMessageWalk* out = walkOut ? walkOut : &scratch;
  out->tokens = 0;
  out->restOffset = length;
  out->restSize = 0;
  out->restReason = "";
  out->implausible = 0;
  if (!frame || !tree || !data || length < 0) return 0;
  FrameBase = frame;
  PacketChannel = static_cast<int16_t>(channel);
  ++g_walk;
  FetchByteOrder(tree);
  MessageSession* session = (out->flags & kWalkProbe) ? ScratchSession() : SessionOf(tree);
  if (!session) session = ScratchSession();
  const int dir = out->clientToServer ? 0 : 1;
  Walk walk{frame, tree, data, length, out, session, dir, false, false};
  ChooseOrder(walk);
  KeepFramingOrder(walk);
  // What a DYNAMIC names holds for the formats of its own message only.
  if (SessionExtras* extras = session->extras.get()) {
    extras->lastStatement[dir].clear();
    if (dir == 1) extras->describingInput = extras->describingOutput = false;
  }
  const int32_t savedOrder = ConnByteOrder;
  ConnByteOrder = walk.msbFirst ? BO_MSB_FIRST : BO_LSB_FIRST;
  SetSteeringByteOrder(ConnByteOrder);
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
      if (messageType < 1 || messageType > kLastMessageType) result = 1;
      if (length > 0) DumpMessage(walk, messageType);
      break;
  }
  if (out->flags & kWalkProbe) ConnByteOrder = savedOrder;
  // With the order undecided the walk read least significant byte first: what it read in that
  // order is shown as the bytes it is.
  if (walk.raw && !(out->flags & kWalkProbe)) PIShowOrderedFieldsRaw(tree);
  SetSteeringByteOrder(0);
  PacketLeft = 0;
  return result;
}

TDS_EXPORT const char* sybasetds_message_type_name(int32_t messageType) {
  const uint32_t type = static_cast<uint32_t>(messageType);
  for (const CPICodeTable& row : PacketTypeTable)
    if (row.low <= type && type <= row.high) return row.text;
  return PacketTypeTable[PacketTypeUnknownRow].text;
}

TDS_EXPORT const char* sybasetds_token_text(int32_t token) {
  const uint32_t code = static_cast<uint32_t>(token);
  for (int32_t i = 0; i + 1 < MessageTokenTypes::kRows; ++i) {
    const CPICodeTable& row = MessageTokenTypeTable.rows[i];
    if (row.low <= code && code <= row.high) return row.text;
  }
  return MessageTokenTypeTable.rows[MessageTokenTypes::kRows - 1].text;
}
