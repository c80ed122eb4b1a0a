#include "request_model.h"

namespace {

const char* const kKindNames[kRequestKindCount] = {
    "login",       "language",     "rpc",         "dbrpc",        "dynamic",       "cursor-declare",
    "cursor-open", "cursor-fetch", "cursor-info", "cursor-close", "cursor-delete", "cursor-update",
    "option",      "bulk",         "logout",      "attention",    "other",
};

}  // namespace

const char* RequestKindName(RequestKind kind) {
  const int i = static_cast<int>(kind);
  return i >= 0 && i < kRequestKindCount ? kKindNames[i] : "other";
}

uint32_t ValueStore::Add(const DisplayTree& from, const ValueRecord& v) {
  const char* texts = from.texts().data();
  const uint32_t index = static_cast<uint32_t>(m_tree.values().size());
  m_tree.AddValue(texts + v.nameBegin, v.nameSize, v.type, v.kind, v.flags, texts + v.textBegin,
                  v.textSize);
  return index;
}

uint32_t ValueStore::Add(const char* name, size_t nameSize, const char* type, uint8_t kind,
                         uint8_t flags, const char* text, size_t textSize) {
  const uint32_t index = static_cast<uint32_t>(m_tree.values().size());
  m_tree.AddValue(name, nameSize, type, kind, flags, text, textSize);
  return index;
}

double Request::durationMs() const {
  if (!complete || unanswered || endUs < timeUs) return 0;
  return static_cast<double>(endUs - timeUs) / 1000.0;
}

void Request::Reset() {
  conn = 0;
  kind = RequestKind::kOther;
  connection.reset();
  firstFrame = lastFrame = endFrame = 0;
  timeUs = endUs = 0;
  name.clear();
  text.clear();
  paramCount = 0;
  values.Clear();
  params.clear();
  key.clear();
  paramNames.reset();
  results.clear();
  rowTokens = 0;
  countedRows = 0;
  countValid = false;
  hasReturnStatus = false;
  returnStatus = 0;
  output.clear();
  errors.clear();
  messages.clear();
  hasFinalStatus = false;
  finalStatus = 0;
  complete = held = cancelled = unanswered = false;
  note.clear();
  login.reset();
}
