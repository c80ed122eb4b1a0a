// Row and parameter formats, classic and wide: every entry shown, and the format kept for the
// data tokens that follow it.
#include "message/message_token.h"
#include "tables/real_layouts.h"
#include "tables/results.h"
#include "tdswire/datatypes.h"

namespace {

constexpr FieldDef kLength2 = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLength4 = Plain("Length", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumns = Plain("No. of Columns", 2, FF_DECIMAL, "Columns");
constexpr FieldDef kParams = Plain("No. of Params", 2, FF_DECIMAL);
constexpr FieldDef kLabelLength = Plain("Label length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLabel = Plain("Label", 0, FF_STRING);
constexpr FieldDef kCatalogLength = Plain("Catalog name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kCatalog = Plain("Catalog name", 0, FF_STRING);
constexpr FieldDef kSchemaLength = Plain("Schema name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kSchema = Plain("Schema name", 0, FF_STRING);
constexpr FieldDef kTableLength = Plain("Table name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kTable = Plain("Table name", 0, FF_STRING);
constexpr FieldDef kColumnNameLength = Plain("Column name length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kColumnName = Plain("Column name", 0, FF_STRING);
constexpr FieldDef kParamNameLength = Plain("Param Name Length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kParamName = Plain("Param Name", 0, FF_STRING);
constexpr FieldDef kRowStatus1 = Coded("Status", 1, FF_FLAGS, RowStatusBits1.rows, 0xFF000000);
constexpr FieldDef kRowStatus4 = Coded("Status", 4, FF_FLAGS, RowStatusBits4);
constexpr FieldDef kParamStatus1 = Coded("Status", 1, FF_FLAGS, ParamStatusBits1, 0xFF000000);
constexpr FieldDef kParamStatus4 = Coded("Status", 4, FF_FLAGS, ParamStatusBits4);
constexpr FieldDef kUserType = Plain("User Type", 4, FF_SIGNED);
constexpr FieldDef kDataType = Plain("Data Type", 1, FF_HEX);
constexpr FieldDef kMaxLength1 = Plain("Length of data type", 1, FF_DECIMAL);
constexpr FieldDef kMaxLength4 = Plain("Length of data type", 4, FF_DECIMAL);
constexpr FieldDef kTypeTableLength = Plain("Table name length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kTypeTable = Plain("Table name", 0, FF_STRING);
constexpr FieldDef kPrecision = Plain("Precision", 1, FF_DECIMAL);
constexpr FieldDef kScale = Plain("Scale", 1, FF_DECIMAL);
constexpr FieldDef kExtraTypeByte = Plain("Extra type byte", 1, FF_HEX);
constexpr FieldDef kLocaleLength = Plain("Locale length", 1, FF_DECIMAL, " byte(s)");
constexpr FieldDef kLocale = Plain("Locale Info", 0, FF_STRING);

// One format token's layout.
struct EntryLayout {
  const FieldDef* length;
  const FieldDef* count;
  const FieldDef* status;
  bool wideNames;  // ROWFMT2: label, catalog, schema, table, column name
  bool params;
};

constexpr EntryLayout kRowFmt{&kLength2, &kColumns, &kRowStatus1, false, false};
constexpr EntryLayout kRowFmt2{&kLength4, &kColumns, &kRowStatus4, true, false};
constexpr EntryLayout kParamFmt{&kLength2, &kParams, &kParamStatus1, false, true};
constexpr EntryLayout kParamFmt2{&kLength4, &kParams, &kParamStatus4, false, true};

}  // namespace

bool EmitTypeInfo(MessageToken& t, Out& out, bool rowFormat) {
  const DatatypeRule* rule = DatatypeOf(out.remaining > 0 ? out.cursor[0] : 0);
  if (!Emit(out, kDataType) || !rule) return false;
  switch (rule->info) {
    case TypeInfo::kNone:
      return true;
    case TypeInfo::kMax1:
      return Emit(out, kMaxLength1);
    case TypeInfo::kMax4:
      return Emit(out, kMaxLength4);
    case TypeInfo::kMax4Table: {
      if (!Emit(out, kMaxLength4)) return false;
      if (!rowFormat) return true;
      const int32_t n = static_cast<int32_t>(Peek(t, out, 2));
      return Emit(out, kTypeTableLength) && (n == 0 || EmitText(t, out, kTypeTable, n));
    }
    case TypeInfo::kDecimal:
      return Emit(out, kMaxLength1) && Emit(out, kPrecision) && Emit(out, kScale);
    case TypeInfo::kMax1Extra:
      return Emit(out, kMaxLength1) && Emit(out, kExtraTypeByte);
  }
  return false;
}

namespace {

bool EmitEntry(MessageToken& t, Out& out, const EntryLayout& layout) {
  if (layout.wideNames) {
    if (!EmitName(t, out, kLabelLength, kLabel) || !EmitName(t, out, kCatalogLength, kCatalog) ||
        !EmitName(t, out, kSchemaLength, kSchema) || !EmitName(t, out, kTableLength, kTable) ||
        !EmitName(t, out, kColumnNameLength, kColumnName))
      return false;
  } else if (layout.params) {
    if (!EmitName(t, out, kParamNameLength, kParamName)) return false;
  } else if (!EmitName(t, out, kColumnNameLength, kColumnName)) {
    return false;
  }
  if (!Emit(out, *layout.status) || !Emit(out, kUserType)) return false;
  if (!EmitTypeInfo(t, out, !layout.params)) return false;
  return EmitName(t, out, kLocaleLength, kLocale);
}

int32_t DecodeFormat(MessageToken& t, Out& out, const EntryLayout& layout) {
  const uint8_t* start = out.cursor;
  if (!Emit(out, *layout.length)) return -1;
  const uint32_t count = Peek(t, out, 2);
  if (!Emit(out, *layout.count)) return -1;
  for (uint32_t i = 0; i < count; ++i)
    if (!EmitEntry(t, out, layout)) break;
  const int32_t used = static_cast<int32_t>(out.cursor - start);
  // Kept only when the whole token parses; a format that does not leaves its data tokens
  // undecoded rather than misread.
  KeptFormat& kept = layout.params ? t.session.Dir(t.dir).params : t.session.Dir(t.dir).rows;
  static WireFormat parsed;
  kept.valid = false;
  if (ParseFormat(t.start, t.size, t.msbFirst, parsed)) KeepFormat(t.session, parsed, kept);
  if (!layout.params && kept.valid) NoteRowFormat(t, kept);
  if (layout.params && kept.valid) NoteParamFormat(t, kept);
  return used;
}

}  // namespace

int32_t DecodeRowFmtReal(MessageToken& t, Out& out) {
  return DecodeFormat(t, out, kRowFmt);
}
int32_t DecodeRowFmt2(MessageToken& t, Out& out) {
  return DecodeFormat(t, out, kRowFmt2);
}
int32_t DecodeParamFmtReal(MessageToken& t, Out& out) {
  return DecodeFormat(t, out, kParamFmt);
}
int32_t DecodeParamFmt2(MessageToken& t, Out& out) {
  return DecodeFormat(t, out, kParamFmt2);
}
