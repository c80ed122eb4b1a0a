#include "store/conversation_key.h"

#include "entry/packet_state.h"
#include "tdsengine/engine.h"

namespace {

// The frame's words are read most significant byte first in either view.
uint32_t FrameWord(const uint8_t* at) {
  CPIInteger holder;
  holder.set(at, 4, BO_MSB_FIRST);
  const uint32_t word = static_cast<uint32_t>(holder.get());
  holder.free();
  return word;
}

}  // namespace

uint32_t ConversationKey(int16_t kind, int16_t extra) {
  const uint32_t w0 = FrameWord(FrameBase);
  const uint32_t w1 = FrameWord(FrameBase + 4);
  const uint32_t w2 = FrameWord(FrameBase + 8);
  const int32_t channel = PacketChannel;
  const int32_t wideKind = kind;
  const int32_t wideExtra = extra;
  // The channel is ORed with the kind, not XORed: channels 0 and 1 give the same key under an
  // odd kind such as 0xD1.
  return w0 ^ w1 ^ w2 ^ static_cast<uint32_t>(channel | wideKind) ^
         static_cast<uint32_t>(wideExtra);
}
