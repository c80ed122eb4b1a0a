// ENVCHANGE (the character set it sets applies from the next token on), ORDERBY2, DONEPROC and
// DONEINPROC, and tokens nobody here knows: framed by their length and shown as bytes.
#include "message/message_token.h"
#include "tables/token_core.h"
#include "tdswire/framing.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength1 = Plain("Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength2 = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength4 = Plain("Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumns = Plain("No. of Columns", 2, FF_DECIMAL, "Columns");
constexpr FieldDef kColumn = Plain("Column Number", 2, FF_DECIMAL);
constexpr FieldDef kData = Plain("Data", 0, FF_DUMP, " byte(s) of data");

constexpr uint32_t kCharsetChange = 3;

constexpr uint32_t kTwoBytes = 0xFFFF0000;
constexpr uint32_t kCountIsValid = 0x0010;
constexpr FieldDef kNoStatus = Plain("Status", 2, FF_FLAGS, "Succesful Completion");
constexpr FieldDef kDoneProcStatus = Coded("Status", 2, FF_FLAGS, DoneProcStatusBits, kTwoBytes);
constexpr FieldDef kTransaction = Coded("Transaction", 2, FF_DECIMAL, TranStateTable);
constexpr FieldDef kRowCount = Plain("Row Count", 4, FF_SIGNED, "rows");
constexpr FieldDef kRowCountNotValid = Plain("Row count is not valid", 4, FF_NONE, "rows");

// The new character set of a type-3 entry, read from the token's own bytes.
void NoteCharset(MessageToken& t) {
  WireReader r{t.start + 1, t.size - 1, t.msbFirst};
  uint32_t length = 0;
  if (!r.U16(length)) return;
  while (r.left > 0) {
    uint32_t type = 0, size = 0;
    const uint8_t* value = nullptr;
    if (!r.U8(type) || !r.U8(size) || !r.Bytes(static_cast<int32_t>(size), value)) return;
    if (type == kCharsetChange)
      t.session.charset = CharsetByName(reinterpret_cast<const char*>(value), size);
    if (!r.U8(size) || !r.Skip(static_cast<int32_t>(size))) return;
  }
}

}  // namespace

int32_t DecodeEnvChangeReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (DecodeEnvChange(out.tree, out.cursor, out.remaining, out.offset, out.parser) == -1) return -1;
  NoteCharset(t);
  return static_cast<int32_t>(out.cursor - start);
}

int32_t DecodeOrderBy2(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength4)) return -1;
  const uint32_t columns = Peek(t, out, 2);
  if (!Emit(out, kColumns)) return -1;
  for (uint32_t i = 0; i < columns; ++i)
    if (!Emit(out, kColumn)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// Servers leave garbage in the count when status bit 0x0010 is clear (407 after a login), in
// DONEPROC and DONEINPROC as in DONE.
int32_t DecodeDoneProcReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  const uint32_t status = Peek(t, out, 2);
  if (!Emit(out, status == 0 ? kNoStatus : kDoneProcStatus)) return -1;
  if (!Emit(out, kTransaction)) return -1;
  if (!Emit(out, (status & kCountIsValid) != 0 ? kRowCount : kRowCountNotValid)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

int32_t DecodeUnknownToken(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  int32_t fixed = 0;
  switch (TokenLengthOf(t.start[0], &fixed)) {
    case TokenLength::kLength1:
      if (!Emit(out, kLength1)) return -1;
      break;
    case TokenLength::kLength2:
      if (!Emit(out, kLength2)) return -1;
      break;
    case TokenLength::kLength4:
      if (!Emit(out, kLength4)) return -1;
      break;
    default:
      break;
  }
  if (out.remaining > 0 && !Emit(out, kData, out.remaining)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}
