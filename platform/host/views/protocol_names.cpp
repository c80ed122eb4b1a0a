#include "views/protocol_names.h"

namespace {

const char* g_messageTypes[256] = {};
const char* g_tokens[256] = {};

template <typename Entry>
void Fill(const char* (&names)[256], Entry entry) {
  for (unsigned code = 0; code < 256; ++code) {
    const char* text = entry ? entry(static_cast<int32_t>(code)) : nullptr;
    names[code] = text ? text : "";
  }
}

}  // namespace

void SetProtocolNames(TdsMessageTypeNameFn messageType, TdsTokenTextFn tokenText) {
  Fill(g_messageTypes, messageType);
  Fill(g_tokens, tokenText);
}

const char* MessageTypeName(uint8_t type) {
  return g_messageTypes[type] ? g_messageTypes[type] : "";
}

const char* TokenText(uint8_t code) {
  return g_tokens[code] ? g_tokens[code] : "";
}
