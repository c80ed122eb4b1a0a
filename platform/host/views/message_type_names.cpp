#include "views/message_type_names.h"

namespace {

const char* g_names[256] = {};

}  // namespace

void SetMessageTypeNames(TdsMessageTypeNameFn name) {
  for (unsigned type = 0; type < 256; ++type) {
    const char* text = name ? name(static_cast<int32_t>(type)) : nullptr;
    g_names[type] = text ? text : "";
  }
}

const char* MessageTypeName(uint8_t type) {
  return g_names[type] ? g_names[type] : "";
}
