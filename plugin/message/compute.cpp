// ALTFMT: the format of a compute clause's rows, kept by its id for the ALTROW tokens.
#include "tables/compute.h"

#include "message/message_token.h"
#include "tokens/compute_fields.h"

namespace {

using namespace compute_fields;

// Compute columns have no names of their own: they are named after their operator and the
// column of the result it applies to, "sum(salary)".
struct OperatorName {
  uint16_t code;
  const char* name;
};
constexpr OperatorName kOperatorNames[] = {
    {0x4B, "count"}, {0x4D, "sum"}, {0x4F, "avg"}, {0x51, "min"}, {0x52, "max"},
};

void NameComputeColumns(const MessageSession& s, KeptFormat& kept) {
  static const KeptFormat kNone;
  const KeptFormat& rows = s.HasRows(1) ? s.dirs[1]->rows : kNone;
  WireFormat& f = kept.format;
  f.names.clear();
  for (size_t i = 0; i < f.columns.size(); ++i) {
    WireColumn& c = f.columns[i];
    const char* op = "compute";
    for (const OperatorName& n : kOperatorNames)
      if (n.code == c.operatorId) op = n.name;
    c.nameBegin = static_cast<uint32_t>(f.names.size());
    f.names += op;
    f.names += '(';
    // The operand counts the result's columns from 1.
    if (rows.valid && c.operand >= 1 && c.operand <= rows.format.columns.size()) {
      const WireColumn& r = rows.format.columns[c.operand - 1];
      f.names.append(rows.format.names, r.nameBegin, r.nameSize);
    }
    f.names += ')';
    c.nameSize = static_cast<uint32_t>(f.names.size()) - c.nameBegin;
    const bool operand = rows.valid && c.operand >= 1 && c.operand <= rows.format.columns.size();
    const bool plain = !operand || (rows.valueFlags[c.operand - 1] & VF_PLAIN_NAME);
    kept.valueFlags[i] = static_cast<uint8_t>(plain ? kept.valueFlags[i] | VF_PLAIN_NAME
                                                    : kept.valueFlags[i] & ~VF_PLAIN_NAME);
  }
}

bool EmitOperator(MessageToken& t, Out& out) {
  if (!Emit(out, kOpType) || !Emit(out, kOpColumn) || !Emit(out, kUserType)) return false;
  if (!EmitTypeInfo(t, out, true)) return false;
  return EmitName(t, out, kLocaleLength, kLocale);
}

}  // namespace

int32_t DecodeAltFmtReal(MessageToken& t, Out& out) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, kLength) || !Emit(out, kComputeId)) return -1;
  const uint32_t operators = Peek(t, out, 1);
  if (!Emit(out, kOperators)) return -1;
  for (uint32_t i = 0; i < operators; ++i)
    if (!EmitOperator(t, out)) return -1;
  const uint32_t by = Peek(t, out, 1);
  if (!Emit(out, kByColumns)) return -1;
  for (uint32_t i = 0; i < by; ++i)
    if (!Emit(out, kByColumn)) return -1;
  static WireFormat parsed;
  if (ParseFormat(t.start, t.size, t.msbFirst, parsed)) {
    auto& computes = t.session.More().computes;
    KeptFormat* slot = nullptr;
    for (KeptFormat& k : computes)
      if (k.format.id == parsed.id) slot = &k;
    if (!slot) {
      if (computes.size() >= kMaxComputeFormats) computes.erase(computes.begin());
      computes.emplace_back();
      slot = &computes.back();
    }
    KeepFormat(t.session, parsed, *slot);
    NameComputeColumns(t.session, *slot);
  }
  return static_cast<int32_t>(out.cursor - start);
}
