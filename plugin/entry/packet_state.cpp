#include "entry/packet_state.h"

uint16_t PacketLeft = 0;
int16_t PacketChannel = 0;
const uint8_t* FrameBase = nullptr;
int32_t ConnByteOrder = 0;
