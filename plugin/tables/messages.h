// Code tables of messages and environment changes.
#pragma once
#include "tdsengine/engine.h"

// Status of an extended error message (EED).
inline constexpr CPICodeTable EedStatusTable[] = {
    {0, 0, "No extended error"},
    {1, 1, "Extended error follows"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(EedStatusTable) / sizeof(EedStatusTable[0]) == 3);

// What an ENVCHANGE entry changed.
inline constexpr CPICodeTable EnvChangeTypeTable[] = {
    {1, 1, "The current database"},
    {2, 2, "The current national language"},
    {3, 3, "The current character set"},
    {4, 4, "The current packet size, in bytes"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(EnvChangeTypeTable) / sizeof(EnvChangeTypeTable[0]) == 5);

// MSG (generic message) tables.
inline constexpr CPICodeTable MsgStatusTable[] = {
    {0, 0, "No arguments follows"},
    {1, 1, "Arguments follows this message"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(MsgStatusTable) / sizeof(MsgStatusTable[0]) == 3);

// 8 lies in two rows; the first in table order wins.
inline constexpr CPICodeTable MsgIdTable[] = {
    {1, 1, "TDS_MSG_SEC_ENCRYPT"},
    {2, 2, "TDS_MSG_SEC_LOGPWD"},
    {3, 3, "TDS_MSG_SEC_REMPWD"},
    {4, 4, "TDS_MSG_SEC_CHALLENGE"},
    {5, 5, "TDS_MSG_SEC_RESPONSE"},
    {6, 6, "TDS_MSG_SEC_GETLABEL"},
    {7, 7, "TDS_MSG_SEC_LABEL"},
    {8, 8, "TDS_MSG_SQL_TBLNAME"},
    {8, 9, "TDS_MSG_GW_RESERVED"},
    {0x0A, 0x0A, "TDS_MSG_OMNI_CAPABILITIES"},
    {0x0B, 0x3FFF, "Reserved for CS/I implementation"},
    {0x4000, 0xFFFF, "Reserved by application"},
    {0, 0, "Unknown"},
};
static_assert(sizeof(MsgIdTable) / sizeof(MsgIdTable[0]) == 13);
