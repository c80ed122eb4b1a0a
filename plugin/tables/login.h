// Code tables of the login record.
#pragma once
#include "tdsengine/engine.h"

inline constexpr CPICodeTable Int2OrderTable[] = {
    {2, 2, "Least Significant byte is in the high byte"},
    {3, 3, "Least Significant byte is in the low byte"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(Int2OrderTable) / sizeof(Int2OrderTable[0]) == 3);

inline constexpr CPICodeTable Int4OrderTable[] = {
    {0, 0, "Least Significant byte is in the high byte"},
    {1, 1, "Least Significant byte is in the low byte"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(Int4OrderTable) / sizeof(Int4OrderTable[0]) == 3);

inline constexpr CPICodeTable CharEncodingTable[] = {
    {6, 6, "EBCDIC character set is not used by the client"},
    {7, 7, "EBCDIC character set is used by the client"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CharEncodingTable) / sizeof(CharEncodingTable[0]) == 3);

inline constexpr CPICodeTable FloatTypeTable[] = {
    {4, 4, "IEEE float type with the least significant byte in the high byte"},
    {5, 5, "VAX 'D' floating point format"},
    {10, 10, "IEEE float type with the least significant byte in the low byte"},
    {11, 11, "ND5000 float type"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(FloatTypeTable) / sizeof(FloatTypeTable[0]) == 5);

inline constexpr CPICodeTable DateFlagTable[] = {
    {8, 8, "Least significant integer is the high integer"},
    {9, 9, "Least significant integer is the low integer"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DateFlagTable) / sizeof(DateFlagTable[0]) == 3);

inline constexpr CPICodeTable DialogTypeTable[] = {
    {1, 1, "This Dialog is a Server to Server Type"},
    {2, 2, "Dialog is directly from a server"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DialogTypeTable) / sizeof(DialogTypeTable[0]) == 3);

inline constexpr CPICodeTable ConversionFlagTable[] = {
    {0, 0, "Short Data types Should Not be Converted"},
    {1, 1, "Short Data types Should be Converted"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(ConversionFlagTable) / sizeof(ConversionFlagTable[0]) == 3);

inline constexpr CPICodeTable FloatFormatTable[] = {
    {12, 12, "IEEE Floating point numbers with the least significant byte in the high byte"},
    {13, 13, "IEEE Floating point numbers with the least significant byte in the low byte"},
    {14, 14, "VAX 'F' Floating Point Number"},
    {15, 15, "ND5000 4 byte Floating Point Format"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(FloatFormatTable) / sizeof(FloatFormatTable[0]) == 5);

inline constexpr CPICodeTable DateFormatTable[] = {
    {16, 16, "Least significant short is in the high byte"},
    {17, 17, "Least significant short is in the low byte"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DateFormatTable) / sizeof(DateFormatTable[0]) == 3);

inline constexpr CPICodeTable LanguageFlagTable[] = {
    {0, 0, "Client does not wants to be notified of language changes"},
    {1, 1, "Client wants to be notified of language changes"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(LanguageFlagTable) / sizeof(LanguageFlagTable[0]) == 3);

inline constexpr CPICodeTable CharsetFlagTable[] = {
    {0, 0, "Client doesn't wants to be notified of character set changes"},
    {1, 1, "Client wants to be notified of character set changes"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CharsetFlagTable) / sizeof(CharsetFlagTable[0]) == 3);

// Login security byte; masks top-aligned for one byte. Pairs: set text, clear text.
inline constexpr CPICodeTable LoginSecurityBits[] = {
    {0x01000000, 0, ".......1 TDS_SEC_LOG_ENCRYPT"},
    {0x01000000, 0, ""},
    {0x02000000, 0, "......1. TDS_SEC_LOG_CHALLANGE"},
    {0x02000000, 0, ""},
    {0x04000000, 0, ".....1.. TDS_SEC_LOG_LABELS"},
    {0x04000000, 0, ""},
    {0x08000000, 0, "....1... TDS_SEC_LOG_APPDEFINED"},
    {0x08000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(LoginSecurityBits) / sizeof(LoginSecurityBits[0]) == 9);

inline constexpr CPICodeTable BulkCopySecurityBits[] = {
    {0x01000000, 0, ".......1 Bulk Copy Labelled"},
    {0x01000000, 0, ".......0 Bulk copy not labelled"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(BulkCopySecurityBits) / sizeof(BulkCopySecurityBits[0]) == 3);
