// The key a format record is filed under: the frame's first three words, the packet's channel,
// a token code and an extra value (the compute id for compute formats).
#pragma once
#include <cstdint>

uint32_t ConversationKey(int16_t kind, int16_t extra);
