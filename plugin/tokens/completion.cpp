// DONE, DONEPROC and DONEINPROC: the status, the transaction state and the row count that end a
// command's results.
#include "engine/emit.h"
#include "tables/token_core.h"
#include "tokens/decoders.h"

namespace {

constexpr uint32_t kTwoBytes = 0xFFFF0000;
constexpr int32_t kCountIsValid = 0x0010;

// A status of 0 is shown in hexadecimal with a fixed note instead of its bits.
constexpr FieldDef kNoStatus = Plain("Status", 2, FF_FLAGS, "Succesful Completion");
constexpr FieldDef kDoneStatus = Coded("Status", 2, FF_FLAGS, DoneStatusBits, kTwoBytes);
constexpr FieldDef kDoneProcStatus = Coded("Status", 2, FF_FLAGS, DoneProcStatusBits, kTwoBytes);
constexpr FieldDef kTransaction = Coded("Transaction", 2, FF_DECIMAL, TranStateTable);
constexpr FieldDef kRowCount = Plain("Row Count", 4, FF_SIGNED, "rows");
constexpr FieldDef kRowCountNotValid = Plain("Row count is not valid", 4, FF_NONE, "rows");

// Status and transaction state, common to the three tokens; the status value, or -1.
int32_t DecodeStatusAndState(Out& out, const FieldDef& statusBits) {
  const int32_t status = ReadValue(out.cursor, 2);
  if (out.remaining < 2) return -1;
  if (!Emit(out, status == 0 ? kNoStatus : statusBits)) return -1;
  if (!Emit(out, kTransaction)) return -1;
  return status;
}

}  // namespace

TDS_DECODER(DecodeDone) {
  Out out{tree, cursor, remaining, offset, parser};
  const int32_t status = DecodeStatusAndState(out, kDoneStatus);
  if (status == -1) return -1;
  return Emit(out, (status & kCountIsValid) != 0 ? kRowCount : kRowCountNotValid) ? 0 : -1;
}

// DONEPROC and DONEINPROC always show their count, whatever the status says of it.
TDS_DECODER(DecodeDoneProc) {
  Out out{tree, cursor, remaining, offset, parser};
  if (DecodeStatusAndState(out, kDoneProcStatus) == -1) return -1;
  return Emit(out, kRowCount) ? 0 : -1;
}
