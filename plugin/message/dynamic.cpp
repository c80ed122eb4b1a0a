// DYNAMIC and DYNAMIC2: prepared statements. A statement's formats are kept by its id: the
// client may leave its parameter format out of a re-execution (status 0x08), and the server
// its row format (status 0x02), which the statement's output description then gives.
#include "message/message_token.h"
#include "tables/real_layouts.h"
#include "tables/requests.h"

namespace {

constexpr FieldDef kLength2 = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength4 = Plain("Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kType = Coded("Type", 1, FF_HEX, DynamicTypeTableReal.rows);
constexpr FieldDef kStatus = Coded("Status", 1, FF_FLAGS, DynamicStatusBitsReal, 0xFF000000);
constexpr FieldDef kIdLength = Plain("Id Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kId = Plain("Id", 0, FF_STRING);
constexpr FieldDef kStatementLength2 = Plain("Statement Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatementLength4 = Plain("Statement Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kStatement = Plain("Statement", 0, FF_STRING);

constexpr uint32_t kExecute = 0x02;
constexpr uint32_t kDescribeInput = 0x40;
constexpr uint32_t kDescribeOutput = 0x80;
constexpr uint32_t kRowFormatSuppressed = 0x02;
constexpr uint32_t kParamFormatSuppressed = 0x08;

// What the statement's DYNAMIC asks of the formats around it.
void Track(MessageToken& t, uint32_t type, uint32_t status, const uint8_t* id, int32_t idSize) {
  MessageSession& session = t.session;
  SessionExtras& s = session.More();
  s.lastStatement[t.dir].assign(reinterpret_cast<const char*>(id), static_cast<size_t>(idSize));
  if (t.dir == 1) {
    s.describingInput = type == kDescribeInput;
    s.describingOutput = type == kDescribeOutput;
    return;
  }
  if (type != kExecute) return;
  StatementFormats* st = FindStatement(session, s.lastStatement[0], false);
  // Without a format of its own the client's last one applies: captures cannot tell the two
  // apart.
  if ((status & kParamFormatSuppressed) && st && st->params.valid)
    session.Dir(0).params = st->params;
  if ((status & kRowFormatSuppressed) && st && st->rows.valid) session.Dir(1).rows = st->rows;
}

int32_t DecodeDynamicWith(MessageToken& t, Out& out, const FieldDef& length,
                          const FieldDef& statementLength) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, length)) return -1;
  const uint32_t type = Peek(t, out, 1);
  if (!Emit(out, kType)) return -1;
  const uint32_t status = Peek(t, out, 1);
  if (!Emit(out, kStatus)) return -1;
  const int32_t idSize = static_cast<int32_t>(Peek(t, out, 1));
  if (!Emit(out, kIdLength)) return -1;
  const uint8_t* id = out.cursor;
  if (idSize > 0 && !EmitText(t, out, kId, idSize)) return -1;
  Track(t, type, status, id, idSize);
  // A server's acknowledgement may end after the id: the statement length is there only when
  // the token's length leaves room for it.
  if (out.remaining < statementLength.size) return static_cast<int32_t>(out.cursor - start);
  const int32_t n = static_cast<int32_t>(Peek(t, out, statementLength.size));
  if (!Emit(out, statementLength)) return -1;
  if (n > 0 && !EmitText(t, out, kStatement, n)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

}  // namespace

int32_t DecodeDynamicReal(MessageToken& t, Out& out) {
  return DecodeDynamicWith(t, out, kLength2, kStatementLength2);
}

int32_t DecodeDynamic2(MessageToken& t, Out& out) {
  return DecodeDynamicWith(t, out, kLength4, kStatementLength4);
}

void NoteRowFormat(MessageToken& t, const KeptFormat& kept) {
  if (t.dir != 1 || !t.session.extras) return;
  const SessionExtras& s = *t.session.extras;
  if (!s.describingOutput || s.lastStatement[1].empty()) return;
  if (StatementFormats* st = FindStatement(t.session, s.lastStatement[1], true)) st->rows = kept;
}

void NoteParamFormat(MessageToken& t, const KeptFormat& kept) {
  if (t.dir != 0 || !t.session.extras) return;
  const SessionExtras& s = *t.session.extras;
  if (s.lastStatement[0].empty()) return;
  if (StatementFormats* st = FindStatement(t.session, s.lastStatement[0], true)) st->params = kept;
}
