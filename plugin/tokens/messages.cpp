// ERROR, INFO and EED: a head of their own, then the message tail they share.
#include "tables/messages.h"

#include "engine/emit.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"
#include "tokens/message_body.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");

// ERROR and INFO differ only in their labels.
struct MessageHead {
  FieldDef number;
  FieldDef state;
  FieldDef messageClass;
  const char* messageLabel;
};

constexpr MessageHead kErrorHead = {
    Plain("Error number", 4, FF_SIGNED),
    Plain("Error state", 1, FF_DECIMAL),
    Plain("Error class", 1, FF_DECIMAL),
    "Error Message",
};
constexpr MessageHead kInfoHead = {
    Plain("Info number", 4, FF_SIGNED),
    Plain("Info state", 1, FF_DECIMAL),
    Plain("Info class", 1, FF_DECIMAL),
    "Info Message",
};

// The EED number is unsigned and its SQL state shown in hexadecimal, not as characters.
constexpr FieldDef kEedNumber = Plain("Message Number", 4, FF_DECIMAL);
constexpr FieldDef kEedState = Plain("Message State", 1, FF_DECIMAL);
constexpr FieldDef kEedClass = Plain("Class of the message", 1, FF_DECIMAL);
constexpr FieldDef kSqlStateLength = Plain("SQL state length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kSqlState = Plain("SQL state", 0, FF_HEX);
constexpr FieldDef kEedStatus = Coded("Status", 1, FF_HEX, EedStatusTable);
constexpr FieldDef kEedTransaction = Coded("Transaction", 2, FF_DECIMAL, TranStateTable);
constexpr const char* kEedMessageLabel = "Message";

constexpr FieldDef kMessageLength = Plain("Message Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kServerNameLength = Plain("Server name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kServerName = Plain("Server Name", 0, FF_STRING);
constexpr FieldDef kProcNameLength = Plain("Proc. name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kProcName = Plain("Proc. name", 0, FF_STRING);
constexpr FieldDef kLineNumber = Plain("Line number", 2, FF_DECIMAL);

// A count field and the field it counts, shown only for a count above 0. A 2-byte count of
// 0x8000 or more is negative and counts as none.
bool EmitCounted(Out& out, const FieldDef& countField, const FieldDef& counted) {
  const int16_t count = ReadCount(out.cursor, countField.size);
  if (!Emit(out, countField)) return false;
  return count <= 0 || Emit(out, counted, count);
}

int32_t DecodeErrorOrInfo(Out& out, const MessageHead& head) {
  if (!Emit(out, kLength) || !Emit(out, head.number) || !Emit(out, head.state) ||
      !Emit(out, head.messageClass)) {
    return -1;
  }
  const int32_t body = DecodeMessageBody(out.remaining, out.cursor, out.offset, out.tree,
                                         out.parser, head.messageLabel);
  return body == -1 ? -1 : 0;
}

}  // namespace

// The token's stated length bounds nothing: every field goes by its own count, and bytes after
// the line number stay in the packet.
int32_t DecodeMessageBody(int32_t& remaining, const uint8_t*& cursor, int32_t offset,
                          CPDecode* tree, CParser* parser, const char* messageLabel) {
  Out out{tree, cursor, remaining, offset, parser};
  const FieldDef message = Plain(messageLabel, 0, FF_STRING);
  if (!EmitCounted(out, kMessageLength, message) ||
      !EmitCounted(out, kServerNameLength, kServerName) ||
      !EmitCounted(out, kProcNameLength, kProcName) || !Emit(out, kLineNumber)) {
    return -1;
  }
  return 1;
}

TDS_DECODER(DecodeError) {
  Out out{tree, cursor, remaining, offset, parser};
  return DecodeErrorOrInfo(out, kErrorHead);
}

TDS_DECODER(DecodeInfo) {
  Out out{tree, cursor, remaining, offset, parser};
  return DecodeErrorOrInfo(out, kInfoHead);
}

TDS_DECODER(DecodeEed) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength) || !Emit(out, kEedNumber) || !Emit(out, kEedState) ||
      !Emit(out, kEedClass) || !EmitCounted(out, kSqlStateLength, kSqlState) ||
      !Emit(out, kEedStatus) || !Emit(out, kEedTransaction)) {
    return -1;
  }
  const int32_t body = DecodeMessageBody(remaining, cursor, offset, tree, parser, kEedMessageLabel);
  return body == -1 ? -1 : 0;
}
