#include "request_model.h"

namespace {

const char* const kKindNames[kRequestKindCount] = {
    "login",       "language",     "rpc",         "dbrpc",        "dynamic",       "cursor-declare",
    "cursor-open", "cursor-fetch", "cursor-info", "cursor-close", "cursor-delete", "cursor-update",
    "option",      "bulk",         "logout",      "attention",    "other",
};

struct Datatype {
  int32_t code;
  const char* name;
};

// The codes the decoder has rules for, named as TDS 5.0 names them, without the prefix.
const Datatype kDatatypes[] = {
    {0x22, "image"},       {0x23, "text"},       {0x25, "varbinary"}, {0x26, "intn"},
    {0x27, "varchar"},     {0x2D, "binary"},     {0x2F, "char"},      {0x30, "int1"},
    {0x32, "bit"},         {0x34, "int2"},       {0x38, "int4"},      {0x3A, "shortdate"},
    {0x3B, "flt4"},        {0x3C, "money"},      {0x3D, "datetime"},  {0x3E, "flt8"},
    {0x67, "sensitivity"}, {0x68, "boundary"},   {0x6A, "decn"},      {0x6C, "numn"},
    {0x6D, "fltn"},        {0x6E, "moneyn"},     {0x6F, "datetimen"}, {0x7A, "shortmoney"},
    {0xAF, "longchar"},    {0xE1, "longbinary"},
};

}  // namespace

const char* RequestKindName(RequestKind kind) {
  const int i = static_cast<int>(kind);
  return i >= 0 && i < kRequestKindCount ? kKindNames[i] : "other";
}

const char* DatatypeName(int32_t code) {
  static const struct Index {
    const char* names[256] = {};
    Index() {
      for (const Datatype& d : kDatatypes) names[d.code] = d.name;
    }
  } index;
  return code >= 0 && code < 256 ? index.names[code] : nullptr;
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
  params.clear();
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
