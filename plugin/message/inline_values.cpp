// RETURNVALUE and RPC: parameters described and valued inside the token itself, each shown with
// its fields and as a value.
#include "message/message_token.h"
#include "tables/requests.h"
#include "tables/results.h"
#include "tdswire/datatypes.h"
#include "tdswire/values.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kParamNameLength = Plain("Param Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kParamName = Plain("Param Name", 0, FF_STRING);
constexpr FieldDef kReturnStatus = Coded("Status", 1, FF_HEX, ReturnValueStatusTable);
constexpr FieldDef kRpcParamStatus = Coded("Status", 1, FF_FLAGS, RpcParamStatusBits, 0xFF000000);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
constexpr FieldDef kRpcNameLength = Plain("RPC Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kRpcName = Plain("RPC Name", 0, FF_STRING);
constexpr FieldDef kRpcOptions = Coded("Options", 2, FF_FLAGS, RpcOptionBits, 0xFFFF0000);
constexpr FieldDef kDataLength1 = Plain("Data Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kDataLength4 = Plain("Data Length", 4, FF_DECIMAL, " byte(s)");

// The type information at the cursor, read into `column` (the fields are shown by EmitTypeInfo).
bool ReadColumnType(MessageToken& t, const Out& out, WireColumn& column) {
  WireReader r{out.cursor, out.remaining, t.msbFirst};
  uint32_t code = 0;
  if (!r.U8(code)) return false;
  column.type = static_cast<uint8_t>(code);
  const DatatypeRule* rule = DatatypeOf(column.type);
  return rule && ReadTypeInfo(r, *rule, false, column);
}

// A value framed as a parameter: its length (none for fixed-size types), then its data, shown
// as a value named after the parameter.
bool EmitInlineValue(MessageToken& t, Out& out, const WireColumn& column, const uint8_t* name,
                     int32_t nameSize, int32_t flags) {
  ValueSpan span;
  if (!FrameValue(column, true, false, out.cursor, out.remaining, t.msbFirst, span)) return false;
  if (span.dataOffset == 1 && !Emit(out, kDataLength1)) return false;
  if (span.dataOffset == 4 && !Emit(out, kDataLength4)) return false;
  const ValueKind kind = RenderValue(column, out.cursor, span.dataSize, span.null, t.msbFirst,
                                     t.session.charset, t.scratch, t.reading());
  static std::string decoded;  // reused: no allocation per value once grown
  decoded.clear();
  AppendDecoded(t.session.charset, name, static_cast<size_t>(nameSize), decoded);
  const int32_t n = PIOutputColumn(t.tree, decoded.data(), static_cast<int32_t>(decoded.size()),
                                   SqlTypeName(column), flags);
  PIOutputValue(t.tree, n, static_cast<int32_t>(kind), t.scratch.data(),
                static_cast<int32_t>(t.scratch.size()));
  out.cursor += span.dataSize;
  out.remaining -= span.dataSize;
  return true;
}

}  // namespace

int32_t DecodeReturnValueReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength)) return -1;
  const int32_t nameSize = static_cast<int32_t>(Peek(t, out, 1));
  if (!Emit(out, kParamNameLength)) return -1;
  const uint8_t* name = out.cursor;
  if (nameSize > 0 && !EmitText(t, out, kParamName, nameSize)) return -1;
  if (!Emit(out, kReturnStatus)) return -1;
  // unichar and univarchar are longbinary told apart by their user type.
  const int32_t userType = static_cast<int32_t>(Peek(t, out, 4));
  if (!Emit(out, kUserType)) return -1;
  WireColumn column;
  if (!ReadColumnType(t, out, column) || !EmitTypeInfo(t, out, false)) return -1;
  column.userType = userType;
  if (!EmitInlineValue(t, out, column, name, nameSize, VF_OUTPUT)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

// The parameters run until the token's length is used up.
int32_t DecodeRpcReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength) || !EmitName(t, out, kRpcNameLength, kRpcName)) return -1;
  if (!Emit(out, kRpcOptions)) return -1;
  while (out.remaining > 0) {
    const int32_t nameSize = static_cast<int32_t>(Peek(t, out, 1));
    if (!Emit(out, kParamNameLength)) return -1;
    const uint8_t* name = out.cursor;
    if (nameSize > 0 && !EmitText(t, out, kParamName, nameSize)) return -1;
    const uint32_t status = Peek(t, out, 1);
    if (!Emit(out, kRpcParamStatus)) return -1;
    WireColumn column;
    if (!ReadColumnType(t, out, column) || !EmitTypeInfo(t, out, false)) return -1;
    if (!EmitInlineValue(t, out, column, name, nameSize, (status & 0x01) ? VF_OUTPUT : 0))
      return -1;
  }
  return static_cast<int32_t>(out.cursor - start);
}
