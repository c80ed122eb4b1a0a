// Every token decoder shares one signature: display tree, cursor, the frame's remaining count,
// offset, parse context. Each returns 0 when its token was shown (or dumped) and -1 as soon as a
// field was refused or a shape check failed; the packet decoder then stops the frame.
#pragma once
#include <cstdint>

#include "tdsengine/engine.h"

using TokenDecoder = int32_t (*)(CPDecode* tree, const uint8_t*& cursor, int32_t& remaining,
                                 int32_t offset, CParser* parser);

#define TDS_DECODER(name)                                                                  \
  int32_t name(CPDecode* tree, const uint8_t*& cursor, int32_t& remaining, int32_t offset, \
               CParser* parser)

TDS_DECODER(DecodeToken);
// The decoder the dispatcher calls for a token type byte (ROW, KEY, PARAMS bound to their
// format codes; types without a decoder dumped).
TokenDecoder DecoderOfToken(uint8_t token);
TDS_DECODER(DecodeObsoleteToken);
TDS_DECODER(DecodeLogin);

// Completion, status and session tokens.
TDS_DECODER(DecodeDone);
TDS_DECODER(DecodeDoneProc);
TDS_DECODER(DecodeLanguage);
TDS_DECODER(DecodeLoginAck);
TDS_DECODER(DecodeLogout);
TDS_DECODER(DecodeOffset);
TDS_DECODER(DecodeReturnStatus);
TDS_DECODER(DecodeCapability);
TDS_DECODER(DecodeControl);

// Result descriptions and data.
TDS_DECODER(DecodeRowFmt);
TDS_DECODER(DecodeParamFmt);
TDS_DECODER(DecodeReturnValue);
TDS_DECODER(DecodeTabName);
TDS_DECODER(DecodeAltFmt);
TDS_DECODER(DecodeAltName);
TDS_DECODER(DecodeAltRow);
// ROW, KEY and PARAMS: values described by the format filed under formatToken.
int32_t DecodeRowData(CPDecode* tree, const uint8_t*& cursor, int32_t& remaining, int32_t offset,
                      CParser* parser, int32_t formatToken);

// Cursors.
TDS_DECODER(DecodeCurDeclare);
TDS_DECODER(DecodeCurOpen);
TDS_DECODER(DecodeCurClose);
TDS_DECODER(DecodeCurDelete);
TDS_DECODER(DecodeCurFetch);
TDS_DECODER(DecodeCurInfo);
TDS_DECODER(DecodeCurUpdate);

// Messages and environment.
TDS_DECODER(DecodeError);
TDS_DECODER(DecodeInfo);
TDS_DECODER(DecodeEed);
TDS_DECODER(DecodeEnvChange);
TDS_DECODER(DecodeEventNotice);
TDS_DECODER(DecodeMsg);

// Requests.
TDS_DECODER(DecodeRpc);
TDS_DECODER(DecodeDbRpc);
TDS_DECODER(DecodeDynamic);
TDS_DECODER(DecodeOptionCmd);
TDS_DECODER(DecodeColInfo);
TDS_DECODER(DecodeOrderBy);
