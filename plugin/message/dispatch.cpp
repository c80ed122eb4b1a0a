// The message view's decoders by token code. Codes not listed are shown by the classic
// decoders, whose layouts are what real traffic sends for them.
#include <array>

#include "message/message_token.h"

namespace {

struct DispatchRow {
  uint8_t token;
  MessageDecoder decoder;
};

constexpr DispatchRow kRows[] = {
    {0x10, DecodeCurDeclareWide}, {0x20, DecodeParamFmt2},       {0x21, DecodeLanguageReal},
    {0x22, DecodeOrderBy2},       {0x23, DecodeCurDeclareWide},  {0x61, DecodeRowFmt2},
    {0x62, DecodeDynamic2},       {0x83, DecodeCurInfoReal},     {0x86, DecodeCurDeclareReal},
    {0x87, DecodeCurInfoWide},    {0x88, DecodeCurInfoWide},     {0xA0, DecodeUnknownToken},
    {0xA1, DecodeUnknownToken},   {0xA6, DecodeOptionCmdReal},   {0xA8, DecodeAltFmtReal},
    {0xAF, DecodeUnknownToken},   {0xCA, DecodeKeyReal},         {0xD1, DecodeRowReal},
    {0xD3, DecodeAltRowReal},     {0xD7, DecodeParamsReal},      {0xE2, DecodeCapabilityReal},
    {0xE3, DecodeEnvChangeReal},  {0xE6, DecodeDbRpcReal},       {0xE7, DecodeDynamicReal},
    {0xE8, DecodeDbRpc2},         {0xAC, DecodeReturnValueReal}, {0xE0, DecodeRpcReal},
    {0xEC, DecodeParamFmtReal},   {0xEE, DecodeRowFmtReal},      {0xAD, DecodeLoginAckReal},
    {0xFE, DecodeDoneProcReal},   {0xFF, DecodeDoneProcReal},
};

// Codes the classic decoders know; every other code is shown as an unknown token.
constexpr uint8_t kClassic[] = {0x65, 0x71, 0x78, 0x79, 0x80, 0x81, 0x82, 0x84, 0x85, 0xA2,
                                0xA4, 0xA5, 0xA7, 0xA9, 0xAA, 0xAB, 0xAE, 0xE5, 0xFD};

std::array<MessageDecoder, 256> Build() {
  std::array<MessageDecoder, 256> table{};
  table.fill(DecodeUnknownToken);
  for (uint8_t code : kClassic) table[code] = nullptr;
  for (const DispatchRow& row : kRows) table[row.token] = row.decoder;
  return table;
}

const std::array<MessageDecoder, 256> kTable = Build();

}  // namespace

MessageDecoder MessageDecoderOf(uint8_t code) {
  return kTable[code];
}
