#include "tdswire/framing.h"

#include "tdswire/reader.h"
#include "tdswire/tokens.h"

namespace {

struct TokenRule {
  uint8_t code;
  TokenLength length;
  uint8_t fixed;  // bytes after the type of a fixed token
  const char* name;
};

using L = TokenLength;

// Every code real traffic is known to carry. Codes not listed follow the fallback rule below.
constexpr TokenRule kTokens[] = {
    {kTokenCurDeclare3, L::kLength4, 0, "CURDECLARE3"},
    {kTokenParamFmt2, L::kLength4, 0, "PARAMFMT2"},
    {kTokenLanguage, L::kLength4, 0, "LANGUAGE"},
    {kTokenOrderBy2, L::kLength4, 0, "ORDERBY2"},
    {kTokenCurDeclare2, L::kLength4, 0, "CURDECLARE2"},
    {kTokenRowFmt2, L::kLength4, 0, "ROWFMT2"},
    {kTokenDynamic2, L::kLength4, 0, "DYNAMIC2"},
    {kTokenMsg, L::kLength1, 0, "MSG"},
    {kTokenLogout, L::kFixed, 1, "LOGOUT"},
    {kTokenOffset, L::kFixed, 4, "OFFSET"},
    {kTokenReturnStatus, L::kFixed, 4, "RETURNSTATUS"},
    {kTokenProcId, L::kFixed, 8, "PROCID"},
    {kTokenCurClose, L::kLength2, 0, "CURCLOSE"},
    {kTokenCurDelete, L::kLength2, 0, "CURDELETE"},
    {kTokenCurFetch, L::kLength2, 0, "CURFETCH"},
    {kTokenCurInfo, L::kLength2, 0, "CURINFO"},
    {kTokenCurOpen, L::kLength2, 0, "CUROPEN"},
    {kTokenCurUpdate, L::kLength2, 0, "CURUPDATE"},
    {kTokenCurDeclare, L::kLength2, 0, "CURDECLARE"},
    {kTokenCurInfo2, L::kLength2, 0, "CURINFO2"},
    {kTokenCurInfo3, L::kLength2, 0, "CURINFO3"},
    {kTokenColName, L::kLength2, 0, "COLNAME"},
    {kTokenColFmt, L::kLength2, 0, "COLFMT"},
    {kTokenEventNotice, L::kLength2, 0, "EVENTNOTICE"},
    {kTokenTabName, L::kLength2, 0, "TABNAME"},
    {kTokenColInfo, L::kLength2, 0, "COLINFO"},
    {kTokenOptionCmd, L::kLength2, 0, "OPTIONCMD"},
    {kTokenAltName, L::kLength2, 0, "ALTNAME"},
    {kTokenAltFmt, L::kLength2, 0, "ALTFMT"},
    {kTokenOrderBy, L::kLength2, 0, "ORDERBY"},
    {kTokenError, L::kLength2, 0, "ERROR"},
    {kTokenInfo, L::kLength2, 0, "INFO"},
    {kTokenReturnValue, L::kLength2, 0, "RETURNVALUE"},
    {kTokenLoginAck, L::kLength2, 0, "LOGINACK"},
    {kTokenControl, L::kLength2, 0, "CONTROL"},
    {kTokenAltControl, L::kLength2, 0, "ALTCONTROL"},
    {kTokenKey, L::kData, 0, "KEY"},
    {kTokenRow, L::kData, 0, "ROW"},
    {kTokenAltRow, L::kData, 0, "ALTROW"},
    {kTokenParams, L::kData, 0, "PARAMS"},
    {kTokenRpc, L::kLength2, 0, "RPC"},
    {kTokenCapability, L::kLength2, 0, "CAPABILITY"},
    {kTokenEnvChange, L::kLength2, 0, "ENVCHANGE"},
    {kTokenEed, L::kLength2, 0, "EED"},
    {kTokenDbRpc, L::kLength2, 0, "DBRPC"},
    {kTokenDynamic, L::kLength2, 0, "DYNAMIC"},
    {kTokenDbRpc2, L::kLength2, 0, "DBRPC2"},
    {kTokenParamFmt, L::kLength2, 0, "PARAMFMT"},
    {kTokenRowFmt, L::kLength2, 0, "ROWFMT"},
    {kTokenDone, L::kFixed, 8, "DONE"},
    {kTokenDoneProc, L::kFixed, 8, "DONEPROC"},
    {kTokenDoneInProc, L::kFixed, 8, "DONEINPROC"},
};

struct TokenIndex {
  int8_t row[256];
  constexpr TokenIndex() : row() {
    for (int c = 0; c < 256; ++c) row[c] = -1;
    for (int i = 0; i < static_cast<int>(sizeof(kTokens) / sizeof(kTokens[0])); ++i)
      row[kTokens[i].code] = static_cast<int8_t>(i);
  }
};
constexpr TokenIndex kIndex;

}  // namespace

TokenLength TokenLengthOf(uint8_t code, int32_t* fixedSize) {
  if (fixedSize) *fixedSize = 0;
  const int row = kIndex.row[code];
  if (row >= 0) {
    if (fixedSize) *fixedSize = kTokens[row].fixed;
    return kTokens[row].length;
  }
  // Codes nobody has seen: the cursor range (0x80-0x88) and the 0xA0-0xEF range carry a 2-byte
  // length, as every known token there does; elsewhere nothing tells where the token ends.
  if ((code >= 0x80 && code <= 0x88) || (code >= 0xA0 && code <= 0xEF)) return L::kLength2;
  return L::kUnknown;
}

TokenFrame FrameToken(const uint8_t* at, int32_t available, bool msbFirst) {
  int32_t fixed = 0;
  const TokenLength length = TokenLengthOf(at[0], &fixed);
  TokenFrame frame{length, 0, false};
  int32_t width = 0;
  switch (length) {
    case L::kData:
    case L::kUnknown:
      return frame;
    case L::kFixed:
      frame.size = 1 + fixed;
      break;
    case L::kLength1:
      width = 1;
      break;
    case L::kLength2:
      width = 2;
      break;
    case L::kLength4:
      width = 4;
      break;
  }
  if (width > 0) {
    WireReader r{at + 1, available - 1, msbFirst};
    uint32_t n = 0;
    if (!r.Uint(width, n)) {
      frame.size = available;
      frame.cut = true;
      return frame;
    }
    const int64_t size = 1 + width + static_cast<int64_t>(n);
    frame.size = size > available ? available : static_cast<int32_t>(size);
    frame.cut = size > available;
    return frame;
  }
  if (frame.size > available) {
    frame.size = available;
    frame.cut = true;
  }
  return frame;
}

const char* WireTokenName(uint8_t code) {
  const int row = kIndex.row[code];
  return row < 0 ? nullptr : kTokens[row].name;
}
