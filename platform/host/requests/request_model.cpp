#include "requests/request_model.h"

#include <cstring>

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

void ConnectionInfo::SetEnds(std::string_view client, std::string_view server) {
  const std::string_view ends[] = {client, server};
  Replace(kClient, 2, ends);
}

void ConnectionInfo::SetLogin(std::string_view user, std::string_view host,
                              std::string_view application) {
  const std::string_view login[] = {user, host, application};
  Replace(kUser, 3, login);
}

void ConnectionInfo::Replace(int first, int count, const std::string_view* texts) {
  std::string_view all[kTexts];
  for (int i = 0; i < kTexts; ++i)
    all[i] = i >= first && i < first + count ? texts[i - first] : Text(i);
  size_t size = 0;
  for (std::string_view& t : all) {
    if (t.size() > kMaxTextBytes - size) t = t.substr(0, kMaxTextBytes - size);
    size += t.size();
  }
  std::unique_ptr<char[]> block(size ? new char[size] : nullptr);
  size_t end = 0;
  for (int i = 0; i < kTexts; ++i) {
    if (!all[i].empty()) std::memcpy(block.get() + end, all[i].data(), all[i].size());
    end += all[i].size();
    m_end[i] = static_cast<uint16_t>(end);
  }
  m_texts = std::move(block);
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
