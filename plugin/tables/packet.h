// Code tables of the TDS packet header.
#pragma once
#include "tdsengine/engine.h"

inline constexpr CPICodeTable PacketTypeTable[] = {
    {1, 1, "Language command"},
    {2, 2, "Login record"},
    {3, 3, "RPC command"},
    {4, 4, "Response to a command"},
    {5, 5, "Raw unformatted data"},
    {6, 6, "Non-expedited attention request"},
    {7, 7, "Bulk binary data"},
    {8, 8, "Request to setup another logical channel"},
    {9, 9, "Request to close a login channel"},
    {10, 10, "Logical channel resource error"},
    {11, 11, "Logical channel acknowledgment"},
    {12, 12, "Echo data request"},
    {13, 13, "Logout request"},
    {14, 14, "Undefined"},
    {15, 15, "Normal TDS request or response"},
    {16, 16, "Urgent TDS request or response"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(PacketTypeTable) / sizeof(PacketTypeTable[0]) == 17);
constexpr int PacketTypeUnknownRow = 16;

// Status byte; masks top-aligned for a 1-byte field. Pairs: set text, clear text.
inline constexpr CPICodeTable PacketStatusBits[] = {
    {0x01000000, 0, ".......1 Last buffer in logical message"},
    {0x01000000, 0, ".......0 Not the last buffer in logical message"},
    {0x02000000, 0, "......1. Ack to the last received attention "},
    {0x02000000, 0, ""},
    {0x04000000, 0, ".....1.. Attention request buffer"},
    {0x04000000, 0, ""},
    {0x08000000, 0, "....1... Event notification buffer"},
    {0x08000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(PacketStatusBits) / sizeof(PacketStatusBits[0]) == 9);
