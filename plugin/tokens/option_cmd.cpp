// OPTIONCMD: one command on one server option, with the option's argument shown in the
// option's own terms.
#include "engine/emit.h"
#include "tables/requests.h"
#include "tokens/decoders.h"

namespace {

constexpr FieldDef kLength = Plain("Length", 2, FF_DECIMAL, " byte(s)");
constexpr FieldDef kCommand = Coded("Command", 1, FF_DECIMAL, OptionCommandTable);
constexpr FieldDef kOption = Coded("Option", 1, FF_DECIMAL, OptionTable);
constexpr FieldDef kArgumentLength = Plain("Option Argument Length", 1, FF_DECIMAL, " byte(s)");

constexpr FieldDef kDayOfWeek = Coded("Argument", 1, FF_DECIMAL, DayOfWeekTable);
constexpr FieldDef kTextSize = Plain("Argument", 4, FF_DECIMAL, " byte(s)");
constexpr FieldDef kFalse = Plain("Argument", 1, FF_DECIMAL, "False");
constexpr FieldDef kTrue = Plain("Argument", 1, FF_DECIMAL, "True");
constexpr FieldDef kRowCount = Plain("Row Count", 4, FF_DECIMAL, "Rows");
constexpr FieldDef kText = Plain("Argument", 0, FF_STRING);
constexpr FieldDef kDateFormat = Coded("Argument", 1, FF_DECIMAL, OptionDateFormatTable);
constexpr FieldDef kIsolation = Coded("Argument", 1, FF_DECIMAL, IsolationLevelTable);
constexpr FieldDef kArithmetic = Coded("Argument", 4, FF_DECIMAL, ArithOptionTable);

enum class ArgumentForm { None, Fixed, Text, TrueFalse };

struct ArgumentDisplay {
  ArgumentForm form;
  const FieldDef* def;  // for Fixed and Text
};

ArgumentDisplay DisplayOf(int32_t option) {
  switch (option) {
    case 0x01:
      return {ArgumentForm::Fixed, &kDayOfWeek};
    case 0x02:
      return {ArgumentForm::Fixed, &kTextSize};
    case 0x03:
    case 0x04:
    case 0x0D:
    case 0x0E:
    case 0x12:
    case 0x14:
    case 0x15:
    case 0x17:
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
    case 0x1C:
    case 0x22:
    case 0x23:
    case 0x26:
      return {ArgumentForm::TrueFalse, nullptr};
    case 0x05:
      return {ArgumentForm::Fixed, &kRowCount};
    case 0x06:
    case 0x09:
    case 0x0A:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x20:
    case 0x21:
      return {ArgumentForm::Text, &kText};
    case 0x07:
      return {ArgumentForm::Fixed, &kDateFormat};
    case 0x08:
      return {ArgumentForm::Fixed, &kIsolation};
    case 0x0F:
    case 0x11:
    case 0x24:
    case 0x25:
      return {ArgumentForm::Fixed, &kArithmetic};
    default:
      return {ArgumentForm::None, nullptr};
  }
}

}  // namespace

TDS_DECODER(DecodeOptionCmd) {
  Out out{tree, cursor, remaining, offset, parser};
  if (!Emit(out, kLength) || !Emit(out, kCommand)) return -1;
  const int32_t option = ReadValue(cursor, 1);
  if (!Emit(out, kOption)) return -1;
  const int16_t argumentLength = ReadCount(cursor, 1);
  if (!Emit(out, kArgumentLength)) return -1;
  if (argumentLength == 0) return 0;

  // The argument's size is the option's, whatever the argument length says; only the text
  // options take theirs from it.
  const ArgumentDisplay display = DisplayOf(option);
  switch (display.form) {
    case ArgumentForm::Fixed:
      return Emit(out, *display.def) ? 0 : -1;
    case ArgumentForm::Text:
      return Emit(out, *display.def, argumentLength) ? 0 : -1;
    case ArgumentForm::TrueFalse: {
      if (remaining < 1) return -1;
      const int32_t flag = ReadValue(cursor, 1);
      return Emit(out, flag == 0 ? kFalse : kTrue) ? 0 : -1;
    }
    case ArgumentForm::None:
      break;
  }
  return -1;
}
