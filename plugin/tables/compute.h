// Code tables of compute results.
#pragma once
#include "tdsengine/engine.h"

inline constexpr CPICodeTable AggregateOperatorTable[] = {
    {0x4F, 0x4F, "Average Value"}, {0x4B, 0x4B, "Summary Count Value"},
    {0x52, 0x52, "Maximum Value"}, {0x51, 0x51, "Minimum Value"},
    {0x4D, 0x4D, "Sum Value"},     {0, 0, "Unknown"},
};
static_assert(sizeof(AggregateOperatorTable) / sizeof(AggregateOperatorTable[0]) == 6);
