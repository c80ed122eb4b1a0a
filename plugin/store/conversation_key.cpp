#include "store/conversation_key.h"

#include "engine/emit.h"
#include "entry/packet_state.h"

uint32_t ConversationKey(int16_t kind, int16_t extra) {
  const uint32_t w0 = static_cast<uint32_t>(ReadValue(FrameBase, 4));
  const uint32_t w1 = static_cast<uint32_t>(ReadValue(FrameBase + 4, 4));
  const uint32_t w2 = static_cast<uint32_t>(ReadValue(FrameBase + 8, 4));
  const int32_t channel = PacketChannel;
  const int32_t wideKind = kind;
  const int32_t wideExtra = extra;
  // The channel is ORed with the kind, not XORed: channels 0 and 1 give the same key under an
  // odd kind such as 0xD1.
  return w0 ^ w1 ^ w2 ^ static_cast<uint32_t>(channel | wideKind) ^
         static_cast<uint32_t>(wideExtra);
}
