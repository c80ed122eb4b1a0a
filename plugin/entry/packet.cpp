// The exported entry: one call per frame. Each TDS packet of the frame gets a title, a summary
// line and its 8-byte header, then its contents: the login record (type 2), the first token
// (types 15 and 16) or a dump. Undecoded bytes of the packet's stated length become "Pad".
#include "tables/packet.h"

#include <cstdio>

#include "engine/emit.h"
#include "entry/byte_order.h"
#include "entry/packet_state.h"
#include "tokens/decoders.h"

#define TDS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr FieldDef kMessageType = Coded("TDS Message Type", 1, FF_DECIMAL, PacketTypeTable);
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, PacketStatusBits, 0x0F000000);
constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kChannel = Plain("Channel", 2, FF_DECIMAL);
constexpr FieldDef kPacketNo = Plain("Packet No.", 1, FF_DECIMAL);
constexpr FieldDef kWindow = Plain("Window", 1, FF_DECIMAL);
constexpr FieldDef kObsoleteMessage = Plain("Obselete Message Type", 0, FF_DUMP);
constexpr FieldDef kPad = Plain("Pad", 0, FF_NONE);

constexpr int32_t kHeaderSize = 8;

struct PacketOutcome {
  int32_t result;  // ParseResult: 0, or 1 for an unknown message type
  bool goOn;       // false once a field was refused or the header ended the frame
};

void AddSummary(CPDecode* tree, int32_t messageType, CParser& parser) {
  const int mode = CPDecode::SummaryMode();
  tree->addTitle(mode, "Sybase TDS:");
  const int row = PIgetInterpretationString(1, static_cast<int16_t>(messageType),
                                            Rows(PacketTypeTable), PacketTypeTable);
  if (row >= 0 && PacketTypeTable[row].text[0] != '\0') {
    char text[96];
    std::snprintf(text, sizeof(text), " (%s)", PacketTypeTable[row].text);
    tree->addDecode(mode, text);
  }
  if (row == PacketTypeUnknownRow) parser.ParseResult = 1;
  tree->addResultNew(mode, -1, parser.m_startOffset, parser.m_startOffset + 1,
                     parser.m_frameLength);
}

// Header after the title and summary; false when decoding of the frame ends here.
bool DecodeHeader(Out& out) {
  if (!EmitKeep(out, kMessageType) || !EmitKeep(out, kStatus)) return false;
  const int32_t length = ReadValue(out.cursor, 2);
  if (!EmitKeep(out, kLength)) return false;
  PacketLeft = static_cast<uint16_t>(length);
  if (length < kHeaderSize) return false;
  PacketLeft = static_cast<uint16_t>(length - 4);
  const int32_t channel = ReadValue(out.cursor, 2);
  if (!Emit(out, kChannel)) return false;
  PacketChannel = static_cast<int16_t>(channel);
  return Emit(out, kPacketNo) && Emit(out, kWindow);
}

bool DecodeContents(Out& out, int32_t messageType) {
  switch (messageType) {
    case 2:
      return DecodeLogin(out.tree, out.cursor, out.remaining, out.offset, out.parser) != -1;
    case 15:
    case 16:
      return DecodeToken(out.tree, out.cursor, out.remaining, out.offset, out.parser) != -1;
    default:
      return Emit(out, kObsoleteMessage, PacketBytesInFrame(out.remaining));
  }
}

PacketOutcome DecodePacket(const uint8_t* frame, CPDecode* tree, const uint8_t*& cursor,
                           int32_t& remaining, int32_t offset) {
  FrameBase = frame;
  CParser parser(frame, cursor, "Sybase TDS", TdsInfoKind, 1);
  parser.ParseResult = 0;
  PIOutputTitleToCPDecode("TDS", "Sybase Tabular Data Stream Protocol", tree, parser);
  const int32_t messageType = ReadValue(cursor, 1);
  if (remaining <= 1) return {parser.ParseResult, false};
  AddSummary(tree, messageType, parser);

  Out out{tree, cursor, remaining, offset, &parser};
  if (!DecodeHeader(out)) return {parser.ParseResult, false};
  FetchByteOrder(tree);
  parser.SetEndianess(ConnByteOrder == BO_LSB_FIRST ? 0 : 1);
  if (!DecodeContents(out, messageType)) return {parser.ParseResult, false};
  if (PacketLeft != 0) {
    if (!Emit(out, kPad, PacketLeft)) return {parser.ParseResult, false};
    PacketLeft = 0;
  }
  return {parser.ParseResult, true};
}

}  // namespace

// Packets after the first are decoded in a loop rather than by recursion, so a frame of many
// small packets cannot exhaust the stack; their results are not used.
TDS_EXPORT int32_t sybasetds_parse(const uint8_t* frame, CPDecode* tree, int32_t /*spare*/,
                                   const uint8_t** cursor, int32_t remaining, int32_t offset) {
  if (!frame || !tree || !cursor || !*cursor) return 0;
  int32_t left = remaining;
  PacketOutcome first = DecodePacket(frame, tree, *cursor, left, offset);
  bool goOn = first.goOn;
  while (goOn && left > kHeaderSize) goOn = DecodePacket(frame, tree, *cursor, left, offset).goOn;
  return first.result;
}
