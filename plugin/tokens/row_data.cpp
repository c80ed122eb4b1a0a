// ROW, KEY and PARAMS carry values only; their layout is the format filed under the code the
// caller names (0xD1, 0xCA or 0xEC).
#include "engine/emit.h"
#include "store/conversation_key.h"
#include "store/format_record.h"
#include "tokens/decoders.h"
#include "tokens/format_fields.h"

int32_t DecodeRowData(CPDecode* tree, const uint8_t*& cursor, int32_t& remaining, int32_t offset,
                      CParser* parser, int32_t formatToken) {
  Out out{tree, cursor, remaining, offset, parser};
  const FormatRecord* record =
      FindFormatRecord(ConversationKey(static_cast<int16_t>(formatToken), 0));
  if (!record) return EmitNoStateDump(out);
  return EmitFormattedValues(out, *record);
}
