// LOGINACK: the classic layout, its status read with the security session bit (0x80).
#include "message/message_token.h"
#include "tables/real_layouts.h"

namespace {

constexpr FieldDef kLengthMsbFirst = Plain("Length", 2, FF_DECIMAL, " byte(s)", BO_MSB_FIRST);
constexpr FieldDef kLengthLsbFirst = Plain("Length", 2, FF_DECIMAL, " byte(s)", BO_LSB_FIRST);
constexpr FieldDef kStatus = Coded("Status", 1, FF_DECIMAL, LoginAckStatusTableReal.rows);
constexpr FieldDef kTdsVersion = Plain("TDS Version", 4, FF_VERSION);
constexpr FieldDef kProgramNameLength = Plain("Program name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kProgramName = Plain("Program name", 0, FF_STRING);
constexpr FieldDef kProgramVersion = Plain("Program version", 4, FF_VERSION);

}  // namespace

// The length is in the server's byte order, which the client's login need not announce: taken
// most significant byte first, a length that fits the token is in that order.
int32_t DecodeLoginAckReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  const bool msbFirst = out.remaining >= 2 && (out.cursor[0] << 8 | out.cursor[1]) <= out.remaining;
  if (!Emit(out, msbFirst ? kLengthMsbFirst : kLengthLsbFirst)) return -1;
  if (!Emit(out, kStatus) || !Emit(out, kTdsVersion)) return -1;
  const int32_t n = static_cast<int32_t>(Peek(t, out, 1));
  if (!Emit(out, kProgramNameLength)) return -1;
  if (n > 0 && !Emit(out, kProgramName, n)) return -1;
  if (!Emit(out, kProgramVersion)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}
