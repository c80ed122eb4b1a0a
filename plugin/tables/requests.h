// Code tables of the requests: RPC, DBRPC, dynamic SQL, option commands and browse-mode
// column information.
#pragma once
#include "tdsengine/engine.h"

// Options of an RPC, a 2-byte field: masks top-aligned by 16.
inline constexpr CPICodeTable RpcOptionBits[] = {
    {0x00010000, 0, "........ .......1 Recompile the RPC before execution"},
    {0x00010000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(RpcOptionBits) / sizeof(RpcOptionBits[0]) == 3);

inline constexpr CPICodeTable RpcParamStatusBits[] = {
    {0x01000000, 0, ".......1 The value of this parameter will be returned to the client"},
    {0x01000000, 0, ""},
    {0x02000000, 0, "......1. This indicates that there is no default values for this parameter"},
    {0x02000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(RpcParamStatusBits) / sizeof(RpcParamStatusBits[0]) == 5);

inline constexpr CPICodeTable DbRpcOptionBits[] = {
    {0x00010000, 0, "........ .......1 Recompile the RPC before the execution"},
    {0x00010000, 0, ""},
    {0x00020000, 0, "........ ......1. There are parameters associated with this RPC"},
    {0x00020000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DbRpcOptionBits) / sizeof(DbRpcOptionBits[0]) == 5);

inline constexpr CPICodeTable DynamicTypeTable[] = {
    {0x01, 0x01, "Prepare statement"},
    {0x02, 0x02, "Execute a prepared statement"},
    {0x04, 0x04, "Deallocate prepared statements"},
    {0x08, 0x08, "Prepare and execute a statement immediatly"},
    {0x10, 0x10, "TDS_DYN_PROCNAME"},
    {0x20, 0x20, "Acknowledge a dynamic command"},
    {0x40, 0x40, "Send input format description"},
    {0x80, 0x80, "Send output format description"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DynamicTypeTable) / sizeof(DynamicTypeTable[0]) == 9);

inline constexpr CPICodeTable DynamicStatusBits[] = {
    {0x01000000, 0, ".......1 Parameter data stream follows"},
    {0x01000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(DynamicStatusBits) / sizeof(DynamicStatusBits[0]) == 3);

inline constexpr CPICodeTable OptionCommandTable[] = {
    {1, 1, "Set an option"},
    {2, 2, "Set option to its default value"},
    {3, 3, "Request current setting of a specific option"},
    {4, 4, "Report current setting of a specific option"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(OptionCommandTable) / sizeof(OptionCommandTable[0]) == 5);

inline constexpr CPICodeTable OptionTable[] = {
    {0x00, 0x00, "No option"},
    {0x01, 0x01, "Set first day of week"},
    {0x02, 0x02, "Set maximum text size"},
    {0x03, 0x03, "Return server time statistics"},
    {0x04, 0x04, "Return server I/O statistics"},
    {0x05, 0x05, "Set maximum row count to return"},
    {0x06, 0x06, "Change national language"},
    {0x07, 0x07, "Set date format"},
    {0x08, 0x08, "Transaction isolation level"},
    {0x09, 0x09, "Set authority level on"},
    {0x0A, 0x0A, "Change character set"},
    {0x0D, 0x0D, "Show execution plan"},
    {0x0E, 0x0E, "Do not execute query"},
    {0x0F, 0x0F, "Set arithmetic exception handling"},
    {0x11, 0x11, "Set arithmetic abort handling"},
    {0x12, 0x12, "Parse the query only. Return error messages"},
    {0x14, 0x14, "Return trigger data"},
    {0x15, 0x15, "Do not return done count"},
    {0x17, 0x17,
     "Forces substitution order for joins in the order of the tables provided in this option"},
    {0x18, 0x18, "Send format information only"},
    {0x19, 0x19, "Set chained transaction mode"},
    {0x1A, 0x1A, "Close all open cursors at the end of transaction"},
    {0x1B, 0x1B, "Enable FIPs flagging"},
    {0x1C, 0x1C, "Return resolution trees"},
    {0x1D, 0x1D, "Turn on explicit identity"},
    {0x1E, 0x1E, "Set session label @ @ curread"},
    {0x1F, 0x1F, "Set session label @ @ curwrite"},
    {0x20, 0x20, "Turn off explicit identity"},
    {0x21, 0x21, "Turn authority off"},
    {0x22, 0x22, "Support ANSI null data"},
    {0x23, 0x23, "Quoted identifiers"},
    {0x24, 0x24, "Turn off arithmetic exceptions"},
    {0x25, 0x25, "Turn off arithmetic aborts"},
    {0x26, 0x26, "Abort on truncation"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(OptionTable) / sizeof(OptionTable[0]) == 35);

inline constexpr CPICodeTable DayOfWeekTable[] = {
    {1, 1, "Monday"}, {2, 2, "Tuesday"},  {3, 3, "Wednesday"}, {4, 4, "Thursday"},
    {5, 5, "Friday"}, {6, 6, "Saturday"}, {7, 7, "Sunday"},    {0, 0, "Unknown"},
};
static_assert(sizeof(DayOfWeekTable) / sizeof(DayOfWeekTable[0]) == 8);

// 3 and 5 read the same.
inline constexpr CPICodeTable OptionDateFormatTable[] = {
    {1, 1, "Month,Day,Year"}, {2, 2, "Day,Month,Year"}, {3, 3, "Year,Month,Day"},
    {4, 4, "Year,Day,Month"}, {5, 5, "Year,Month,Day"}, {6, 6, "Day,Year,Month"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(OptionDateFormatTable) / sizeof(OptionDateFormatTable[0]) == 7);

inline constexpr CPICodeTable IsolationLevelTable[] = {
    {1, 1, "Level 1"},
    {3, 3, "Level 3"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(IsolationLevelTable) / sizeof(IsolationLevelTable[0]) == 3);

// Looked up as a whole value: both flags together (3) read "Unknown".
inline constexpr CPICodeTable ArithOptionTable[] = {
    {1, 1, "TDS_OPT_ARITHOVERFLOW"},
    {2, 2, "TDS_OPT_NUMERICTRUNC"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(ArithOptionTable) / sizeof(ArithOptionTable[0]) == 3);

// Status of a browse-mode column. Each row holds one status bit top-aligned for a 1-byte field
// (low = high); read as a bit table, every set bit gives its own line.
inline constexpr CPICodeTable ColInfoStatusTable[] = {
    {0x04000000, 0x04000000, "0x04 Column is the result of an SQL expression"},
    {0x08000000, 0x08000000, "0x08 The column is part of the row key"},
    {0x10000000, 0x10000000, "0x10 This is a hidden column"},
    {0x20000000, 0x20000000, "0x20 The real column name is in the next 2 arguments"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(ColInfoStatusTable) / sizeof(ColInfoStatusTable[0]) == 5);
