// Code tables of messages and environment changes.
#pragma once
#include "tdsengine/engine.h"

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
