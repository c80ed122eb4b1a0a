// The token dispatcher: shows the first token's type and hands the packet to its decoder. One
// token is decoded per packet; the packet decoder shows the rest as "Pad".
#include <array>

#include "engine/emit.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kTokenType = Coded("TDS Token Type", 1, FF_HEX, TokenTypeTable);
constexpr FieldDef kObsoleteToken = Plain("Obselete Token", 0, FF_DUMP, " byte(s) of data");

// ROW, KEY and PARAMS share one decoder that takes the code their format was filed under.
TDS_DECODER(DecodeRow) {
  return DecodeRowData(tree, cursor, remaining, offset, parser, 0xD1);
}
TDS_DECODER(DecodeKey) {
  return DecodeRowData(tree, cursor, remaining, offset, parser, 0xCA);
}
TDS_DECODER(DecodeParams) {
  return DecodeRowData(tree, cursor, remaining, offset, parser, 0xEC);
}

struct DispatchRow {
  uint8_t token;
  TokenDecoder decoder;
};

constexpr DispatchRow kDispatchRows[] = {
    {0x21, DecodeLanguage},    {0x65, DecodeMsg},          {0x71, DecodeLogout},
    {0x78, DecodeOffset},      {0x79, DecodeReturnStatus}, {0x80, DecodeCurClose},
    {0x81, DecodeCurDelete},   {0x82, DecodeCurFetch},     {0x83, DecodeCurInfo},
    {0x84, DecodeCurOpen},     {0x85, DecodeCurUpdate},    {0x86, DecodeCurDeclare},
    {0xA2, DecodeEventNotice}, {0xA4, DecodeTabName},      {0xA5, DecodeColInfo},
    {0xA6, DecodeOptionCmd},   {0xA7, DecodeAltName},      {0xA8, DecodeAltFmt},
    {0xA9, DecodeOrderBy},     {0xAA, DecodeError},        {0xAB, DecodeInfo},
    {0xAC, DecodeReturnValue}, {0xAD, DecodeLoginAck},     {0xAE, DecodeControl},
    {0xCA, DecodeKey},         {0xD1, DecodeRow},          {0xD3, DecodeAltRow},
    {0xD7, DecodeParams},      {0xE0, DecodeRpc},          {0xE2, DecodeCapability},
    {0xE3, DecodeEnvChange},   {0xE5, DecodeEed},          {0xE6, DecodeDbRpc},
    {0xE7, DecodeDynamic},     {0xEC, DecodeParamFmt},     {0xEE, DecodeRowFmt},
    {0xFD, DecodeDone},        {0xFE, DecodeDoneProc},     {0xFF, DecodeDoneProc},
};

std::array<TokenDecoder, 256> BuildDispatch() {
  std::array<TokenDecoder, 256> table{};
  table.fill(DecodeObsoleteToken);
  for (const DispatchRow& row : kDispatchRows) table[row.token] = row.decoder;
  return table;
}

const std::array<TokenDecoder, 256> kDispatch = BuildDispatch();

}  // namespace

TokenDecoder DecoderOfToken(uint8_t token) {
  return kDispatch[token];
}

TDS_DECODER(DecodeToken) {
  Out out{tree, cursor, remaining, offset, parser};
  const int32_t token = static_cast<int16_t>(ReadValue(cursor, 1));
  if (!Emit(out, kTokenType)) return -1;
  const int32_t result =
      DecoderOfToken(static_cast<uint8_t>(token))(tree, cursor, remaining, offset, parser);
  return result == -1 ? -1 : 0;
}

TDS_DECODER(DecodeObsoleteToken) {
  Out out{tree, cursor, remaining, offset, parser};
  return Emit(out, kObsoleteToken, PacketBytesInFrame(remaining)) ? 0 : -1;
}
