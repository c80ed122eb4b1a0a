// ROW, KEY, PARAMS and ALTROW: their values under the format in force, as people read them.
#include "message/message_token.h"

namespace {

constexpr FieldDef kComputeId = Plain("Compute Clause Id", 2, FF_DECIMAL);

int32_t DecodeData(MessageToken& t, Out& out, const KeptFormat& kept, bool keysOnly, bool params) {
  if (!kept.valid) return kNoFormat;
  const uint8_t* start = out.cursor;
  if (!EmitValues(t, out, kept, keysOnly, params)) return -1;
  return static_cast<int32_t>(out.cursor - start);
}

}  // namespace

int32_t DecodeRowReal(MessageToken& t, Out& out) {
  return DecodeData(t, out, t.session.Dir(t.dir).rows, false, false);
}

// A KEY holds the key columns of the last row format the server sent, also when the client
// sends it (to update or delete through a cursor).
int32_t DecodeKeyReal(MessageToken& t, Out& out) {
  return DecodeData(t, out, t.session.Dir(1).rows, true, false);
}

int32_t DecodeParamsReal(MessageToken& t, Out& out) {
  return DecodeData(t, out, t.session.Dir(t.dir).params, false, true);
}

int32_t DecodeAltRowReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  const uint32_t id = Peek(t, out, 2);
  if (!Emit(out, kComputeId)) return -1;
  if (!t.session.extras) return kNoFormat;
  for (const KeptFormat& kept : t.session.extras->computes) {
    if (kept.format.id != id) continue;
    const int32_t used = DecodeData(t, out, kept, false, false);
    return used < 0 ? used : static_cast<int32_t>(out.cursor - start);
  }
  return kNoFormat;
}
