// Code tables of the layouts real clients and servers send beyond the classic ones: wide
// format statuses, LANGUAGE status, dynamic statuses, 4-byte cursor options and statuses.
#pragma once
#include "tdsengine/engine.h"

// Status of a row format entry, 4 bytes (ROWFMT2): each row shown when its bit is set.
inline constexpr CPICodeTable RowStatusBits4[] = {
    {0x00000001, 0, "0x00000001 Hidden column"},
    {0x00000001, 0, ""},
    {0x00000002, 0, "0x00000002 Key column"},
    {0x00000002, 0, ""},
    {0x00000004, 0, "0x00000004 Part of the version key"},
    {0x00000004, 0, ""},
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

inline constexpr CPICodeTable CapabilityTypeTable[] = {
    {1, 1, "Request capabilities"},
    {2, 2, "Response capabilities"},
    {0, 0, "Unknown"},
};

// Token types as the message view names them: the classic texts and the wide forms.
inline constexpr CPICodeTable MessageTokenTypeTable[] = {
    {0xAF, 0xAF, "Obsolete"},
    {0xA8, 0xA8, "Format of a Compute clause"},
    {0xA7, 0xA7, "Aggregate Operators in a Compute clause"},
    {0xD3, 0xD3, "Complete Row of a Compute data"},
    {0xE2, 0xE2, "Capability Exchange"},
    {0xA1, 0xA1, "Obsolete"},
    {0x2A, 0x2A, "Obsolete"},
    {0xA5, 0xA5, "Column Information for Browse mode"},
    {0xA0, 0xA0, "Obsolete"},
    {0xAE, 0xAE, "User-defined Format Information for Columns"},
    {0x80, 0x80, "Cursor Close"},
    {0x86, 0x86, "Cursor Declare"},
    {0x81, 0x81, "Delete a Row Through a Cursor"},
    {0x82, 0x82, "Fetch Command"},
    {0x83, 0x83, "Set/Change Current Curosr Context"},
    {0x84, 0x84, "Cursor Open"},
    {0x85, 0x85, "Row Update through a Cursor"},
    {0xE6, 0xE6, "RPC Request"},
    {0x60, 0x60, "Obsolete"},
    {0xFD, 0xFD, "Completion Status of a Command"},
    {0xFE, 0xFF, "Completion Status of Stored Procedure Commands"},
    {0xE7, 0xE7, "Prepare/Execute a Dynamic SQL Statement"},
    {0xE5, 0xE5, "Return a Rext Message to a Client"},
    {0xE3, 0xE3, "Notification of Changes in the Supported Environmental Variables"},
    {0xAA, 0xAA, "Error Message"},
    {0xA2, 0xA2, "Event Notice"},
    {0xAB, 0xAB, "Information Message"},
    {0xCA, 0xCA, "Key Data"},
    {0x21, 0x21, "Language Command"},
    {0xAD, 0xAD, "Response to a Login Request Token"},
    {0x71, 0x71, "Client Logout Request"},
    {0x65, 0x65, "Generic Messages"},
    {0x78, 0x78, "Offset of the Specified Keyword in the language command buffer"},
    {0xA6, 0xA6, "Clear, set, and report on Options"},
    {0xA9, 0xA9, "Columns in an order by clause of a select"},
    {0xEC, 0xEC, "Description of Parameter Data"},
    {0xD7, 0xD7, "Parameter Data"},
    {0x7C, 0x7C, "Obsolete"},
    {0x79, 0x79, "Return Status Code"},
    {0xAC, 0xAC, "Return Parameter Information"},
    {0xD1, 0xD1, "A Row of Data"},
    {0xEE, 0xEE, "Description of Row Data"},
    {0xE0, 0xE0, "RPC Request"},
    {0xA4, 0xA4, "Naming Tables Referenced in a Result List"},
    {0x10, 0x10, "Cursor Declare (wide)"},
    {0x20, 0x20, "Description of Parameter Data (wide)"},
    {0x22, 0x22, "Columns in an order by clause (wide)"},
    {0x23, 0x23, "Cursor Declare (wide)"},
    {0x61, 0x61, "Description of Row Data (wide)"},
    {0x62, 0x62, "Prepare/Execute a Dynamic SQL Statement (wide)"},
    {0x87, 0x88, "Set/Change Current Cursor Context (wide)"},
    {0xE8, 0xE8, "RPC Request (wide name)"},
    {0, 0, "Unknown"},
};
