#include "message/session.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "entry/packet_state.h"
#include "tdswire/values.h"

// A store block's text has room for 15 digits, too few for an address: blocks carry the index
// of their session in this table, as the format records do.
namespace {

// Sessions are blocks of their own kind, under the connection id: no format record's key can
// land on one.
constexpr uint8_t kSessionKind = TdsInfoKind + 1;

std::vector<MessageSession*>& Slots() {
  static std::vector<MessageSession*> slots;
  return slots;
}

std::vector<uint32_t>& FreeSlots() {
  static std::vector<uint32_t> free;
  return free;
}

bool SlotOf(const SimBlockTag& block, uint32_t* index) {
  char text[sizeof(block.text)];
  for (size_t i = 0; i < sizeof(text); ++i) text[i] = block.text[i];
  text[sizeof(text) - 1] = '\0';
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || value < 0 || static_cast<size_t>(value) >= Slots().size()) return false;
  *index = static_cast<uint32_t>(value);
  return Slots()[*index] != nullptr;
}

int ReleaseSession(SimBlockTag block) {
  uint32_t index = 0;
  if (!SlotOf(block, &index)) return 1;
  delete Slots()[index];
  Slots()[index] = nullptr;
  FreeSlots().push_back(index);
  return 1;
}

}  // namespace

MessageSession* SessionOf(CPDecode* tree) {
  const uint32_t key = tree->ConnectionId;
  SimBlockTag block{};
  uint32_t index = 0;
  if (SimFindInfo(kSessionKind, key, &block, 0) && SlotOf(block, &index)) return Slots()[index];
  auto* session = new (std::nothrow) MessageSession();
  if (!session) return nullptr;
  auto& slots = Slots();
  auto& free = FreeSlots();
  if (!free.empty()) {
    index = free.back();
    free.pop_back();
    slots[index] = session;
  } else {
    slots.push_back(session);
    index = static_cast<uint32_t>(slots.size() - 1);
  }
  block = SimBlockTag{};
  block.kind = kSessionKind;
  block.key = key;
  std::snprintf(block.text, sizeof(block.text), "%lu", static_cast<unsigned long>(index));
  // A store that cannot keep the block releases it at once.
  if (!SimAddInfo(&block, ReleaseSession)) return nullptr;
  return session;
}

MessageSession* ScratchSession() {
  static MessageSession scratch;
  scratch = MessageSession();
  return &scratch;
}

StatementFormats* FindStatement(MessageSession& s, const std::string& id, bool create) {
  if (!s.extras && !create) return nullptr;
  std::vector<StatementFormats>& statements = s.More().statements;
  for (StatementFormats& st : statements)
    if (st.id == id) return &st;
  if (!create) return nullptr;
  if (statements.size() >= kMaxStatements) statements.erase(statements.begin());
  statements.emplace_back();
  statements.back().id = id;
  return &statements.back();
}

void KeepFormat(const MessageSession& s, const WireFormat& parsed, KeptFormat& into) {
  into.valid = true;
  into.walk = 0;  // named afresh in the tree before its first value
  into.format = parsed;
  into.format.names.clear();
  into.valueFlags.clear();
  into.typeNames.clear();
  into.fixedSizes.clear();
  for (WireColumn& c : into.format.columns) {
    const uint32_t begin = static_cast<uint32_t>(into.format.names.size());
    AppendDecoded(s.charset, reinterpret_cast<const uint8_t*>(parsed.names.data()) + c.nameBegin,
                  c.nameSize, into.format.names);
    c.nameBegin = begin;
    c.nameSize = static_cast<uint32_t>(into.format.names.size()) - begin;
    bool plain = true;
    for (uint32_t i = begin; i < begin + c.nameSize; ++i) {
      const uint8_t ch = static_cast<uint8_t>(into.format.names[i]);
      plain = plain && ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\';
    }
    into.valueFlags.push_back(plain ? VF_PLAIN_NAME : 0);
    into.typeNames.push_back(SqlTypeName(c));
    const DatatypeRule* rule = DatatypeOf(c.type);
    // A value behind a column status byte is framed by it, whatever its type.
    into.fixedSizes.push_back(
        rule && rule->framing == ValueFraming::kFixed && !c.statusByte ? rule->fixedSize : 0);
  }
}
