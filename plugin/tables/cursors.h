// Code tables of the cursor commands: declare, open, close, delete, fetch, info and update.
#pragma once
#include "tdsengine/engine.h"

// Options of a cursor declaration. Each bit's row is shown only when the bit is set; the empty
// row after it has mask 0 and is passed over. There is no final row.
inline constexpr CPICodeTable CurDeclareOptionBits[] = {
    {0x01000000, 0x1, ".......1 Read only"},
    {0, 0, ""},
    {0x02000000, 0x2, "......1. Updates can be performed"},
    {0, 0, ""},
    {0x08000000, 0x8, "....1... Declared against a dynamically prepared statements"},
    {0, 0, ""},
};
static_assert(sizeof(CurDeclareOptionBits) / sizeof(CurDeclareOptionBits[0]) == 6);

inline constexpr CPICodeTable CurDeclareStatusTable[] = {
    {0, 0, "No status"},
    {1, 1, "Followed by parameters"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurDeclareStatusTable) / sizeof(CurDeclareStatusTable[0]) == 3);

inline constexpr CPICodeTable CurOpenStatusBits[] = {
    {0x01000000, 0, ".......1 Data follows in another token"},
    {0x01000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurOpenStatusBits) / sizeof(CurOpenStatusBits[0]) == 3);

inline constexpr CPICodeTable CurCloseOptionTable[] = {
    {0, 0, "No close options"},
    {1, 1, "Close and deallocate the cursor"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurCloseOptionTable) / sizeof(CurCloseOptionTable[0]) == 3);

inline constexpr CPICodeTable CurDeleteStatusTable[] = {
    {0, 0, "No status"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurDeleteStatusTable) / sizeof(CurDeleteStatusTable[0]) == 2);

inline constexpr CPICodeTable CurFetchTypeTable[] = {
    {1, 1, "Return next row from table"},
    {2, 2, "Return previous row"},
    {3, 3, "Return first row"},
    {4, 4, "Return last row"},
    {5, 5, "Return row at position specified in row number"},
    {6, 6, "Return row at current position plus row number"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurFetchTypeTable) / sizeof(CurFetchTypeTable[0]) == 7);

inline constexpr CPICodeTable CurInfoCommandTable[] = {
    {1, 1, "Set the fetch count"},
    {2, 2, "Ask status of a cursor"},
    {3, 3, "Report status of a cursor"},
    {4, 4, "Report status of all open cursors"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurInfoCommandTable) / sizeof(CurInfoCommandTable[0]) == 5);

// Status of a cursor, a 2-byte field: masks top-aligned by 16.
inline constexpr CPICodeTable CurInfoStatusBits[] = {
    {0x00010000, 0, ".......1 The specified cursor has been declared"},
    {0x00010000, 0, ""},
    {0x00020000, 0, "......1. Specified cursor is open"},
    {0x00020000, 0, ""},
    {0x00040000, 0, ".....1.. Specified cursor is closed"},
    {0x00040000, 0, ""},
    {0x00080000, 0, "....1... Specified cursor is read only"},
    {0x00080000, 0, ""},
    {0x00100000, 0, "...1.... Specified cursor is updatable"},
    {0x00100000, 0, ""},
    {0x00200000, 0, "..1..... Rowcount argument is valid"},
    {0x00200000, 0, ""},
    {0x00400000, 0, ".1...... Specified cursor has been deallocated"},
    {0x00400000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurInfoStatusBits) / sizeof(CurInfoStatusBits[0]) == 15);

inline constexpr CPICodeTable CurUpdateStatusBits[] = {
    {0x01000000, 0, ".......1 Parameters follow"},
    {0x01000000, 0, ""},
    {0x02000000, 0, "......1. Consecutive cursor updates are occuring"},
    {0x02000000, 0, ""},
    {0, 0, "Unknown"},
};
static_assert(sizeof(CurUpdateStatusBits) / sizeof(CurUpdateStatusBits[0]) == 5);
