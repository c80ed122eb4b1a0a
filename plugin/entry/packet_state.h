// Packet state shared by every decoder of the current TDS packet. Process-wide and unguarded:
// one frame is decoded at a time.
#pragma once
#include <cstdint>

extern uint16_t PacketLeft;       // bytes of the current packet not yet decoded
extern int16_t PacketChannel;     // the header's channel, part of the conversation key
extern const uint8_t* FrameBase;  // the frame block of the current call
extern int32_t ConnByteOrder;     // byte-order code last fetched from the store

// Info kind of every block this decoder files, also its protocol number.
constexpr uint8_t TdsInfoKind = 183;
