// Code tables of result descriptions: row and parameter format status bits, return-value status.
#pragma once
#include "tdsengine/engine.h"

// Column status byte of a row format; masks top-aligned for a 1-byte field. Bit 0x08 has no row.
inline constexpr CPICodeTable RowFmtStatusBits[] = {
    {0x1000000, 0, ".......1 This is a hidden column"},
    {0x1000000, 0, ".......0 This is not a hidden column"},
    {0x2000000, 0, "......1. This column is a key"},
    {0x2000000, 0, "......0. This column is not a key"},
    {0x4000000, 0, ".....1.. Part of version key for a row"},
    {0x4000000, 0, ".....0.. Not part of version key for a row"},
    {0x10000000, 0, "...1.... This column is updatable"},
    {0x10000000, 0, "...0.... This column is not updatable"},
    {0x20000000, 0, "..1..... This column allows nulls"},
    {0x20000000, 0, "..0..... This column doesn't allows nulls"},
    {0x40000000, 0, ".1...... This column is an identity column"},
    {0x40000000, 0, ".0...... This column is not an identity column"},
    {0x80000000, 0, "1....... Column has been padded with blank characters"},
    {0x80000000, 0, "0....... Column was not paddes"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(RowFmtStatusBits) / sizeof(RowFmtStatusBits[0]) == 15);

// Parameter status byte of a parameter format: only bits 0x08 and 0x20 are shown, when set.
inline constexpr CPICodeTable ParamFmtStatusBits[] = {
    {0x8000000, 0, "....1... This is a return parameter passed by reference"},
    {0x8000000, 0, ""},
    {0x20000000, 0, "..1..... This parameter can be NULL"},
    {0x20000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(ParamFmtStatusBits) / sizeof(ParamFmtStatusBits[0]) == 5);

inline constexpr CPICodeTable ReturnValueStatusTable[] = {
    {0, 0, "The status field is not used"},
    {8, 8,
     "This indicates that the return value was originally sent to the server as an output "
     "parameter in an RPC"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(ReturnValueStatusTable) / sizeof(ReturnValueStatusTable[0]) == 3);
