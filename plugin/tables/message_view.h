// Names of the token types as the message view shows them.
#pragma once
#include <cstdint>

struct TokenName {
  uint8_t token;
  const char* name;
};

inline constexpr TokenName TokenNames[] = {
    {0x20, "PARAMFMT2"},    {0x21, "LANGUAGE"},   {0x22, "ORDERBY2"},  {0x61, "ROWFMT2"},
    {0x62, "DYNAMIC2"},     {0x65, "MSG"},        {0x71, "LOGOUT"},    {0x78, "OFFSET"},
    {0x79, "RETURNSTATUS"}, {0x7C, "PROCID"},     {0x80, "CURCLOSE"},  {0x81, "CURDELETE"},
    {0x82, "CURFETCH"},     {0x83, "CURINFO"},    {0x84, "CUROPEN"},   {0x85, "CURUPDATE"},
    {0x86, "CURDECLARE"},   {0xA0, "COLNAME"},    {0xA1, "COLFMT"},    {0xA2, "EVENTNOTICE"},
    {0xA4, "TABNAME"},      {0xA5, "COLINFO"},    {0xA6, "OPTIONCMD"}, {0xA7, "ALTNAME"},
    {0xA8, "ALTFMT"},       {0xA9, "ORDERBY"},    {0xAA, "ERROR"},     {0xAB, "INFO"},
    {0xAC, "RETURNVALUE"},  {0xAD, "LOGINACK"},   {0xAE, "CONTROL"},   {0xCA, "KEY"},
    {0xD1, "ROW"},          {0xD3, "ALTROW"},     {0xD7, "PARAMS"},    {0xE0, "RPC"},
    {0xE2, "CAPABILITY"},   {0xE3, "ENVCHANGE"},  {0xE5, "EED"},       {0xE6, "DBRPC"},
    {0xE7, "DYNAMIC"},      {0xEC, "PARAMFMT"},   {0xEE, "ROWFMT"},    {0xFD, "DONE"},
    {0xFE, "DONEPROC"},     {0xFF, "DONEINPROC"},
};

inline const char* TokenNameOf(uint8_t token) {
  for (const TokenName& row : TokenNames) {
    if (row.token == token) return row.name;
  }
  return "UNKNOWN";
}
