// The token codes of TDS 5.0 messages, by name: every code real traffic is known to carry.
#pragma once
#include <cstdint>

constexpr uint8_t kTokenCurDeclare3 = 0x10;
constexpr uint8_t kTokenParamFmt2 = 0x20;
constexpr uint8_t kTokenLanguage = 0x21;
constexpr uint8_t kTokenOrderBy2 = 0x22;
constexpr uint8_t kTokenCurDeclare2 = 0x23;
constexpr uint8_t kTokenRowFmt2 = 0x61;
constexpr uint8_t kTokenDynamic2 = 0x62;
constexpr uint8_t kTokenMsg = 0x65;
constexpr uint8_t kTokenLogout = 0x71;
constexpr uint8_t kTokenOffset = 0x78;
constexpr uint8_t kTokenReturnStatus = 0x79;
constexpr uint8_t kTokenProcId = 0x7C;
constexpr uint8_t kTokenCurClose = 0x80;
constexpr uint8_t kTokenCurDelete = 0x81;
constexpr uint8_t kTokenCurFetch = 0x82;
constexpr uint8_t kTokenCurInfo = 0x83;
constexpr uint8_t kTokenCurOpen = 0x84;
constexpr uint8_t kTokenCurUpdate = 0x85;
constexpr uint8_t kTokenCurDeclare = 0x86;
constexpr uint8_t kTokenCurInfo2 = 0x87;
constexpr uint8_t kTokenCurInfo3 = 0x88;
constexpr uint8_t kTokenColName = 0xA0;
constexpr uint8_t kTokenColFmt = 0xA1;
constexpr uint8_t kTokenEventNotice = 0xA2;
constexpr uint8_t kTokenTabName = 0xA4;
constexpr uint8_t kTokenColInfo = 0xA5;
constexpr uint8_t kTokenOptionCmd = 0xA6;
constexpr uint8_t kTokenAltName = 0xA7;
constexpr uint8_t kTokenAltFmt = 0xA8;
constexpr uint8_t kTokenOrderBy = 0xA9;
constexpr uint8_t kTokenError = 0xAA;
constexpr uint8_t kTokenInfo = 0xAB;
constexpr uint8_t kTokenReturnValue = 0xAC;
constexpr uint8_t kTokenLoginAck = 0xAD;
constexpr uint8_t kTokenControl = 0xAE;
constexpr uint8_t kTokenAltControl = 0xAF;
constexpr uint8_t kTokenKey = 0xCA;
constexpr uint8_t kTokenRow = 0xD1;
constexpr uint8_t kTokenAltRow = 0xD3;
constexpr uint8_t kTokenParams = 0xD7;
constexpr uint8_t kTokenRpc = 0xE0;
constexpr uint8_t kTokenCapability = 0xE2;
constexpr uint8_t kTokenEnvChange = 0xE3;
constexpr uint8_t kTokenEed = 0xE5;
constexpr uint8_t kTokenDbRpc = 0xE6;
constexpr uint8_t kTokenDynamic = 0xE7;
constexpr uint8_t kTokenDbRpc2 = 0xE8;
constexpr uint8_t kTokenParamFmt = 0xEC;
constexpr uint8_t kTokenRowFmt = 0xEE;
constexpr uint8_t kTokenDone = 0xFD;
constexpr uint8_t kTokenDoneProc = 0xFE;
constexpr uint8_t kTokenDoneInProc = 0xFF;

// Status bits of DONE, DONEPROC and DONEINPROC.
constexpr uint16_t kDoneMore = 0x0001;       // more results of the command follow
constexpr uint16_t kDoneCount = 0x0010;      // the row count is valid
constexpr uint16_t kDoneAttention = 0x0020;  // acknowledges an attention
