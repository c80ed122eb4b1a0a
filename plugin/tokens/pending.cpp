// Token types whose decoders are not written yet are dumped like obsolete tokens. Each weak
// definition gives way to the real decoder as soon as one is linked in.
#include "tokens/decoders.h"

#define TDS_PENDING(name)                                                \
  __attribute__((weak)) TDS_DECODER(name) {                              \
    return DecodeObsoleteToken(tree, cursor, remaining, offset, parser); \
  }

TDS_PENDING(DecodeLogin)
TDS_PENDING(DecodeDone)
TDS_PENDING(DecodeDoneProc)
TDS_PENDING(DecodeLanguage)
TDS_PENDING(DecodeLoginAck)
TDS_PENDING(DecodeLogout)
TDS_PENDING(DecodeOffset)
TDS_PENDING(DecodeReturnStatus)
TDS_PENDING(DecodeCapability)
TDS_PENDING(DecodeControl)
TDS_PENDING(DecodeRowFmt)
TDS_PENDING(DecodeParamFmt)
TDS_PENDING(DecodeReturnValue)
TDS_PENDING(DecodeTabName)
TDS_PENDING(DecodeAltFmt)
TDS_PENDING(DecodeAltName)
TDS_PENDING(DecodeAltRow)
TDS_PENDING(DecodeCurDeclare)
TDS_PENDING(DecodeCurOpen)
TDS_PENDING(DecodeCurClose)
TDS_PENDING(DecodeCurDelete)
TDS_PENDING(DecodeCurFetch)
TDS_PENDING(DecodeCurInfo)
TDS_PENDING(DecodeCurUpdate)
TDS_PENDING(DecodeError)
TDS_PENDING(DecodeInfo)
TDS_PENDING(DecodeEed)
TDS_PENDING(DecodeEnvChange)
TDS_PENDING(DecodeEventNotice)
TDS_PENDING(DecodeMsg)
TDS_PENDING(DecodeRpc)
TDS_PENDING(DecodeDbRpc)
TDS_PENDING(DecodeDynamic)
TDS_PENDING(DecodeOptionCmd)
TDS_PENDING(DecodeColInfo)
TDS_PENDING(DecodeOrderBy)

__attribute__((weak)) int32_t DecodeRowData(CPDecode* tree, const uint8_t*& cursor,
                                            int32_t& remaining, int32_t offset, CParser* parser,
                                            int32_t /*formatToken*/) {
  return DecodeObsoleteToken(tree, cursor, remaining, offset, parser);
}
