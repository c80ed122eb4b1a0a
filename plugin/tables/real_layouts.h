// Code tables of the layouts real clients and servers send beyond the classic ones: wide
// format statuses, LANGUAGE status, dynamic statuses, 4-byte cursor options and statuses.
#pragma once
#include <cstddef>

#include "tables/cursors.h"
#include "tables/packet.h"
#include "tables/requests.h"
#include "tables/results.h"
#include "tables/token_core.h"
#include "tdsengine/engine.h"

// A message-view table that adds rows to a classic one the packet view keeps showing as it is:
// the added rows go before the classic row `at` (by default its final "Unknown" row), where a
// bit table lists them in bit order.
template <size_t N, size_t M>
struct ExtendedCodeTable {
  CPICodeTable rows[N + M];
  constexpr ExtendedCodeTable(const CPICodeTable (&classic)[N], const CPICodeTable (&added)[M],
                              size_t at = N - 1)
      : rows() {
    for (size_t i = 0; i < N + M; ++i)
      rows[i] = i < at ? classic[i] : i < at + M ? added[i - at] : classic[i - M];
  }
};

// Status of a row format entry, 1 byte (ROWFMT): the classic bits and "no data", with which a
// column status byte precedes each of the column's values.
inline constexpr CPICodeTable RowStatusNoDataBits1[] = {
    {0x08000000, 0, "....1... No data: a column status byte precedes each value"},
    {0x08000000, 0, ""},
};
inline constexpr ExtendedCodeTable RowStatusBits1(RowFmtStatusBits, RowStatusNoDataBits1, 6);

// Status of a row format entry, 4 bytes (ROWFMT2): each row shown when its bit is set.
inline constexpr CPICodeTable RowStatusBits4[] = {
    {0x00000001, 0, "0x00000001 Hidden column"},
    {0x00000001, 0, ""},
    {0x00000002, 0, "0x00000002 Key column"},
    {0x00000002, 0, ""},
    {0x00000004, 0, "0x00000004 Part of the version key"},
    {0x00000004, 0, ""},
    {0x00000008, 0, "0x00000008 No data: a column status byte precedes each value"},
    {0x00000008, 0, ""},
    {0x00000010, 0, "0x00000010 Updatable"},
    {0x00000010, 0, ""},
    {0x00000020, 0, "0x00000020 Nullable"},
    {0x00000020, 0, ""},
    {0x00000040, 0, "0x00000040 Identity column"},
    {0x00000040, 0, ""},
    {0x00000080, 0, "0x00000080 Blank-padded"},
    {0x00000080, 0, ""},
    {0, 0, "Unknown"},
};

// Status of a parameter format entry as clients and servers set it, 1 byte (top-aligned).
inline constexpr CPICodeTable ParamStatusBits1[] = {
    {0x01000000, 0, ".......1 Output (return) parameter"},
    {0x01000000, 0, ""},
    {0x08000000, 0, "....1... A column status byte precedes each value"},
    {0x08000000, 0, ""},
    {0x20000000, 0, "..1..... Nullable"},
    {0x20000000, 0, ""},
    {0, 0, "Unknown"},
};

// The same, 4 bytes (PARAMFMT2).
inline constexpr CPICodeTable ParamStatusBits4[] = {
    {0x00000001, 0, "0x00000001 Output (return) parameter"},
    {0x00000001, 0, ""},
    {0x00000008, 0, "0x00000008 A column status byte precedes each value"},
    {0x00000008, 0, ""},
    {0x00000020, 0, "0x00000020 Nullable"},
    {0x00000020, 0, ""},
    {0, 0, "Unknown"},
};

inline constexpr CPICodeTable LanguageStatusTable[] = {
    {0, 0, "No parameters"},
    {1, 1, "Parameters follow"},
    {4, 4, "Batch parameters follow"},
    {0, 0, "Unknown"},
};

// Status of DYNAMIC and DYNAMIC2, 1 byte (top-aligned).
inline constexpr CPICodeTable DynamicStatusBitsReal[] = {
    {0x01000000, 0, ".......1 Parameters follow"},
    {0x01000000, 0, ""},
    {0x02000000, 0, "......1. Row format suppressed"},
    {0x02000000, 0, ""},
    {0x04000000, 0, ".....1.. Batch parameters"},
    {0x04000000, 0, ""},
    {0x08000000, 0, "....1... Parameter format suppressed"},
    {0x08000000, 0, ""},
    {0, 0, "Unknown"},
};

// Options of CURDECLARE2 and CURDECLARE3, 4 bytes.
inline constexpr CPICodeTable CursorOptionBits4[] = {
    {0x00000001, 0, "0x00000001 Read only"},
    {0x00000001, 0, ""},
    {0x00000002, 0, "0x00000002 Updatable"},
    {0x00000002, 0, ""},
    {0x00000004, 0, "0x00000004 Sensitive"},
    {0x00000004, 0, ""},
    {0x00000008, 0, "0x00000008 Dynamic"},
    {0x00000008, 0, ""},
    {0x00000010, 0, "0x00000010 Implicit"},
    {0x00000010, 0, ""},
    {0x00000020, 0, "0x00000020 Insensitive"},
    {0x00000020, 0, ""},
    {0x00000040, 0, "0x00000040 Semi-sensitive"},
    {0x00000040, 0, ""},
    {0x00000080, 0, "0x00000080 Keyset"},
    {0x00000080, 0, ""},
    {0x00000100, 0, "0x00000100 Scrollable"},
    {0x00000100, 0, ""},
    {0x00000200, 0, "0x00000200 Release locks on close"},
    {0x00000200, 0, ""},
    {0, 0, "Unknown"},
};

// Status of CURINFO2 and CURINFO3 when it takes 4 bytes.
inline constexpr CPICodeTable CursorStatusBits4[] = {
    {0x00000001, 0, "0x00000001 Declared"},
    {0x00000001, 0, ""},
    {0x00000002, 0, "0x00000002 Open"},
    {0x00000002, 0, ""},
    {0x00000004, 0, "0x00000004 Closed"},
    {0x00000004, 0, ""},
    {0x00000008, 0, "0x00000008 Read only"},
    {0x00000008, 0, ""},
    {0x00000010, 0, "0x00000010 Updatable"},
    {0x00000010, 0, ""},
    {0x00000020, 0, "0x00000020 Row count valid"},
    {0x00000020, 0, ""},
    {0x00000040, 0, "0x00000040 Deallocated"},
    {0x00000040, 0, ""},
    {0x00000080, 0, "0x00000080 Scrollable"},
    {0x00000080, 0, ""},
    {0x00000100, 0, "0x00000100 Implicit"},
    {0x00000100, 0, ""},
    {0x00000200, 0, "0x00000200 Sensitive"},
    {0x00000200, 0, ""},
    {0x00000400, 0, "0x00000400 Insensitive"},
    {0x00000400, 0, ""},
    {0x00000800, 0, "0x00000800 Semi-sensitive"},
    {0x00000800, 0, ""},
    {0x00001000, 0, "0x00001000 Keyset"},
    {0x00001000, 0, ""},
    {0x00002000, 0, "0x00002000 Release locks on close"},
    {0x00002000, 0, ""},
    {0, 0, "Unknown"},
};

// Token types as the message view names them: the classic rows (their final "Unknown" row
// last), with the wide forms real traffic adds before it.
inline constexpr CPICodeTable WideTokenTypeRows[] = {
    {0x10, 0x10, "Cursor Declare (wide)"},
    {0x20, 0x20, "Description of Parameter Data (wide)"},
    {0x22, 0x22, "Columns in an order by clause (wide)"},
    {0x23, 0x23, "Cursor Declare (wide)"},
    {0x61, 0x61, "Description of Row Data (wide)"},
    {0x62, 0x62, "Prepare/Execute a Dynamic SQL Statement (wide)"},
    {0x87, 0x88, "Set/Change Current Cursor Context (wide)"},
    {0xE8, 0xE8, "RPC Request (wide name)"},
};

struct MessageTokenTypes {
  static constexpr size_t kClassic = sizeof(TokenTypeTable) / sizeof(TokenTypeTable[0]);
  static constexpr size_t kWide = sizeof(WideTokenTypeRows) / sizeof(WideTokenTypeRows[0]);
  static constexpr int32_t kRows = static_cast<int32_t>(kClassic + kWide);
  CPICodeTable rows[kClassic + kWide];
  constexpr MessageTokenTypes() : rows() {
    for (size_t i = 0; i + 1 < kClassic; ++i) rows[i] = TokenTypeTable[i];
    for (size_t i = 0; i < kWide; ++i) rows[kClassic - 1 + i] = WideTokenTypeRows[i];
    rows[kClassic + kWide - 1] = TokenTypeTable[kClassic - 1];
  }
};
inline constexpr MessageTokenTypes MessageTokenTypeTable;

// Status of CURINFO, 2 bytes (top-aligned by 16): the classic bits and the cursor kinds above
// them.
inline constexpr CPICodeTable CurInfoStatusKindBits[] = {
    {0x00800000, 0, "........ 1....... Specified cursor is scrollable"},
    {0x00800000, 0, ""},
    {0x01000000, 0, ".......1 ........ Specified cursor is implicit"},
    {0x01000000, 0, ""},
    {0x02000000, 0, "......1. ........ Specified cursor is sensitive"},
    {0x02000000, 0, ""},
    {0x04000000, 0, ".....1.. ........ Specified cursor is insensitive"},
    {0x04000000, 0, ""},
    {0x08000000, 0, "....1... ........ Specified cursor is semi-sensitive"},
    {0x08000000, 0, ""},
    {0x10000000, 0, "...1.... ........ Specified cursor is a keyset cursor"},
    {0x10000000, 0, ""},
    {0x20000000, 0, "..1..... ........ Specified cursor releases its locks on close"},
    {0x20000000, 0, ""},
};
inline constexpr ExtendedCodeTable CurInfoStatusBitsReal(CurInfoStatusBits, CurInfoStatusKindBits);

// Options of DBRPC, 2 bytes (top-aligned by 16): the classic bits and batch parameters.
inline constexpr CPICodeTable DbRpcBatchBits[] = {
    {0x00040000, 0, "........ .....1.. Several sets of parameters follow (batch)"},
    {0x00040000, 0, ""},
};
inline constexpr ExtendedCodeTable DbRpcOptionBitsReal(DbRpcOptionBits, DbRpcBatchBits);

// Options of OPTIONCMD that the classic table leaves unnamed.
inline constexpr CPICodeTable MoreOptionRows[] = {
    {0x0B, 0x0B, "Set query plan"},          {0x0C, 0x0C, "Set error level"},
    {0x10, 0x10, "Ignore truncation"},       {0x13, 0x13, "Return estimates"},
    {0x27, 0x27, "Join a transaction"},      {0x28, 0x28, "Set client name"},
    {0x29, 0x29, "Set client host name"},    {0x2A, 0x2A, "Set client application name"},
    {0x2B, 0x2B, "Turn on identity update"}, {0x2C, 0x2C, "Turn off identity update"},
    {0x2D, 0x2D, "Return no data"},          {0x31, 0x32, "Set LOB locators"},
    {0x34, 0x34, "Set isolation mode"},
};
inline constexpr ExtendedCodeTable OptionTableReal(OptionTable, MoreOptionRows);

// Types of DYNAMIC and DYNAMIC2: 0x10 named like the others (its row comes first, so it is the
// one a lookup finds).
inline constexpr CPICodeTable DynamicProcNameRow[] = {
    {0x10, 0x10, "Send a procedure name"},
};
inline constexpr ExtendedCodeTable DynamicTypeTableReal(DynamicTypeTable, DynamicProcNameRow, 0);

// Message types as the message view names them: the classic ones and migrate.
inline constexpr CPICodeTable MigrateTypeRow[] = {
    {17, 17, "Migrate request"},
};
inline constexpr ExtendedCodeTable MessageTypeTable(PacketTypeTable, MigrateTypeRow);

// Status of LOGINACK: 0x80 added to 5, 6 or 7 says the security session was acknowledged.
inline constexpr CPICodeTable SecuredLoginAckRows[] = {
    {0x85, 0x85, "Successful completion, security session acknowledged"},
    {0x86, 0x86, "Login request failed, security session acknowledged"},
    {0x87, 0x87,
     "Complete a negotiation before completing the login request, security session "
     "acknowledged"},
};
inline constexpr ExtendedCodeTable LoginAckStatusTableReal(LoginAckStatusTable,
                                                           SecuredLoginAckRows);
