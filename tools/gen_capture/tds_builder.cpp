#include "tds_builder.h"

#include <cstring>

namespace gen {

namespace {

const char* const kWords[] = {"alpha",
                              "bravo",
                              "charlie",
                              "delta",
                              "echo",
                              "foxtrot",
                              "golf",
                              "hotel",
                              "india",
                              "juliet",
                              "kilo",
                              "lima",
                              "Berlin",
                              "Lisbon",
                              "Oslo",
                              "Nairobi",
                              "Quito",
                              "Osaka",
                              "Perth",
                              "Toronto",
                              "shipped",
                              "pending",
                              "on hold",
                              "returned",
                              "M\xfc"
                              "ller",
                              "\xc6r\xf8sk\xf8"
                              "bing",
                              "Smith & Sons",
                              "O'Brien",
                              "N/A",
                              "",
                              "x",
                              "TOTAL"};

const char* const kColumnNames[] = {
    "id",       "customer_id", "order_no", "name",    "city",     "country", "amount",
    "price",    "qty",         "status",   "code",    "created",  "updated", "ratio",
    "discount", "flag",        "notes",    "payload", "region",   "balance", "due",
    "weight",   "sku",         "email",    "phone",   "priority", "owner",   "version"};

struct TypeClass {
  uint8_t type;
  int32_t userType;
  uint32_t weight;
};

// Datatype classes and how often a column gets one (text and image only where allowed).
const TypeClass kTypeClasses[] = {
    {kInt4, 7, 14},     {kInt2, 6, 4},        {kInt1, 5, 3},       {kBit, 16, 3},
    {kIntN, 13, 8},     {kVarChar, 2, 16},    {kChar, 1, 6},       {kBinary, 3, 2},
    {kVarBinary, 4, 2}, {kDateTime, 12, 5},   {kShortDate, 22, 2}, {kDateTimeN, 15, 5},
    {kMoney, 11, 3},    {kShortMoney, 21, 2}, {kMoneyN, 17, 3},    {kFlt8, 8, 3},
    {kFlt4, 23, 2},     {kFltN, 14, 3},       {kNumN, 10, 5},      {kDecN, 24, 3},
    {kLongChar, 36, 1}, {kLongBinary, 37, 1}, {kText, 19, 1},      {kImage, 20, 1},
};

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

uint64_t Bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

std::string Word(Rng& rng) {
  return rng.Pick(kWords);
}

// A short text of words, at most `max` bytes.
std::string Phrase(Rng& rng, uint32_t max) {
  std::string s;
  const uint32_t words = rng.Range(1, 4);
  for (uint32_t i = 0; i < words; ++i) {
    if (i) s += ' ';
    s += Word(rng);
  }
  if (rng.Chance(30)) s += "-" + std::to_string(rng.Below(100000));
  if (s.size() > max) s.resize(max);
  return s;
}

void RandomBytes(Bytes& b, Rng& rng, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) b.U8(static_cast<uint32_t>(rng.Next()));
}

void AppendDateTime(Bytes& b, Rng& rng) {
  b.U32(rng.Range(36000, 46000));        // days since 1900
  b.U32(rng.Below(24u * 3600u * 300u));  // 1/300 seconds since midnight
}

void AppendShortDate(Bytes& b, Rng& rng) {
  b.U16(rng.Range(36000, 46000));  // days since 1900
  b.U16(rng.Below(24 * 60));       // minutes since midnight
}

void AppendMoney(Bytes& b, Rng& rng) {
  const int64_t v = static_cast<int64_t>(rng.Below(2000000000)) * 10 - 5000000000ll;
  const uint64_t u = static_cast<uint64_t>(v);
  b.U32(static_cast<uint32_t>(u >> 32));  // the high half comes first
  b.U32(static_cast<uint32_t>(u));
}

void AppendNumeric(Bytes& b, Rng& rng, uint8_t precision) {
  // Sign byte, then the magnitude most significant byte first in any byte order.
  const uint32_t n = NumericBytes(precision) - 1;
  b.U8(rng.Chance(20) ? 1 : 0);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t left = n - i;  // bytes from this one to the end
    b.U8(left > 4 ? 0 : static_cast<uint32_t>(rng.Next()) & (left == 4 || i == 0 ? 0x0F : 0xFF));
  }
}

void AppendColumnDescription(Bytes& b, const Column& c, bool withUserType) {
  b.U8(static_cast<uint32_t>(c.name.size()));
  b.Text(c.name);
  b.U8(c.status);
  if (withUserType) b.U32(static_cast<uint32_t>(c.userType));
  b.U8(c.type);
  const int width = LengthWidth(c.type);
  if (width == 1) b.U8(c.maxLength);
  if (width == 4) b.U32(c.maxLength);
  if (c.type == kNumN || c.type == kDecN) {
    b.U8(c.precision);
    b.U8(c.scale);
  }
  if (c.type == kText || c.type == kImage) {
    b.U16(static_cast<uint32_t>(c.table.size()));
    b.Text(c.table);
  }
}

}  // namespace

void Bytes::Raw(const void* bytes, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  m_data.insert(m_data.end(), p, p + n);
}

void Bytes::Fixed(const std::string& s, size_t width, uint8_t fill) {
  const size_t n = s.size() < width ? s.size() : width;
  Raw(s.data(), n);
  m_data.insert(m_data.end(), width - n, fill);
}

void Bytes::Int(uint64_t v, int size) {
  for (int i = 0; i < size; ++i) {
    const int shift = m_msb ? 8 * (size - 1 - i) : 8 * i;
    m_data.push_back(static_cast<uint8_t>(v >> shift));
  }
}

void Bytes::PatchLength16(size_t at) {
  const size_t n = m_data.size() - at - 2;
  const uint8_t lo = static_cast<uint8_t>(n);
  const uint8_t hi = static_cast<uint8_t>(n >> 8);
  m_data[at] = m_msb ? hi : lo;
  m_data[at + 1] = m_msb ? lo : hi;
}

int LengthWidth(uint8_t type) {
  switch (type) {
    case kImage:
    case kText:
    case kLongChar:
    case kLongBinary:
      return 4;
    case kInt1:
    case kBit:
    case kInt2:
    case kInt4:
    case kShortDate:
    case kFlt4:
    case kMoney:
    case kDateTime:
    case kFlt8:
    case kShortMoney:
      return 0;
    default:
      return 1;
  }
}

int FixedSize(uint8_t type) {
  switch (type) {
    case kInt1:
    case kBit:
      return 1;
    case kInt2:
      return 2;
    case kInt4:
    case kShortDate:
    case kFlt4:
    case kShortMoney:
      return 4;
    case kMoney:
    case kDateTime:
    case kFlt8:
      return 8;
    default:
      return 0;
  }
}

uint32_t NumericBytes(uint8_t precision) {
  // Enough bytes for 10^precision, plus the sign byte.
  static const uint8_t kBytes[39] = {1,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,
                                     7,  7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12,
                                     12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
  return kBytes[precision > 38 ? 38 : precision];
}

Column RandomColumn(Rng& rng, int index, bool allowLargeObjects) {
  uint32_t total = 0;
  for (const TypeClass& t : kTypeClasses)
    if (allowLargeObjects || LengthWidth(t.type) != 4) total += t.weight;
  uint32_t pick = rng.Below(total);
  const TypeClass* chosen = &kTypeClasses[0];
  for (const TypeClass& t : kTypeClasses) {
    if (!allowLargeObjects && LengthWidth(t.type) == 4) continue;
    if (pick < t.weight) {
      chosen = &t;
      break;
    }
    pick -= t.weight;
  }
  Column c;
  c.name = rng.Pick(kColumnNames);
  if (index > 0) c.name += std::to_string(index);
  c.type = chosen->type;
  c.userType = chosen->userType;
  const bool variable = LengthWidth(c.type) != 0;
  c.status = variable && rng.Chance(60) ? 0x20 : 0x00;  // nullable
  if (rng.Chance(10)) c.status |= 0x10;                 // updatable
  switch (c.type) {
    case kIntN: {
      static const uint32_t kSizes[] = {1, 2, 4, 4, 4, 8};
      c.maxLength = rng.Pick(kSizes);
      break;
    }
    case kFltN:
    case kMoneyN:
    case kDateTimeN:
      c.maxLength = rng.Chance(70) ? 8 : 4;
      break;
    case kVarChar:
      c.maxLength = rng.Range(1, 255);
      break;
    case kChar:
      c.maxLength = rng.Range(1, 40);
      break;
    case kBinary:
      c.maxLength = rng.Range(1, 16);
      break;
    case kVarBinary:
      c.maxLength = rng.Range(1, 64);
      break;
    case kNumN:
    case kDecN:
      c.precision = static_cast<uint8_t>(rng.Range(1, 38));
      c.scale = static_cast<uint8_t>(rng.Below(c.precision + 1u));
      c.maxLength = NumericBytes(c.precision);
      break;
    case kText:
    case kImage:
      c.maxLength = 0x7FFFFFFF;
      c.table = "documents";
      c.status |= 0x20;
      break;
    case kLongChar:
    case kLongBinary:
      c.maxLength = 0x7FFFFFFF;
      break;
    default:
      break;
  }
  return c;
}

void AppendLogin(Bytes& b, const LoginParams& p) {
  auto name = [&b](const std::string& s) {
    b.Fixed(s, 30);
    b.U8(static_cast<uint32_t>(s.size() < 30 ? s.size() : 30));
  };
  name(p.host);
  name(p.user);
  name(p.password);
  name(p.process);
  // Byte-order bytes: int2, int4, character set, float, date; as the client's machine is.
  if (p.msbFirst) {
    const uint8_t order[] = {2, 0, 6, 4, 8};
    b.Raw(order, sizeof(order));
  } else {
    const uint8_t order[] = {3, 1, 6, 10, 9};
    b.Raw(order, sizeof(order));
  }
  b.U8(1);     // use db
  b.U8(0);     // dump/load
  b.U8(0);     // interface spare
  b.U8(0);     // dialog type: client
  b.Zeros(4);  // buffer size
  b.Zeros(3);  // spare
  name(p.application);
  name(p.server);
  // Remote server/password pairs: an empty server name and the password.
  std::string pairs;
  pairs += '\0';
  pairs += static_cast<char>(p.password.size());
  pairs += p.password;
  b.Fixed(pairs, 255);
  b.U8(static_cast<uint32_t>(pairs.size()));
  const uint8_t tdsVersion[] = {5, 0, 0, 0};
  b.Raw(tdsVersion, 4);
  b.Fixed(p.library, 10);
  b.U8(static_cast<uint32_t>(p.library.size() < 10 ? p.library.size() : 10));
  const uint8_t libraryVersion[] = {5, 0, 0, 0};
  b.Raw(libraryVersion, 4);
  b.U8(0);                     // conversion flag
  b.U8(p.msbFirst ? 12 : 13);  // float format
  b.U8(p.msbFirst ? 16 : 17);  // date format
  name(p.language);
  b.U8(0);     // language flag
  b.Zeros(2);  // old secure data
  b.U8(0);     // login security
  b.U8(0);     // bulk copy security
  b.Zeros(9);  // security spare
  name(p.charset);
  b.U8(1);  // character set flag
  const std::string size = std::to_string(p.packetSize);
  b.Fixed(size, 6);
  b.U8(static_cast<uint32_t>(size.size()));
  // 564 bytes so far; clients follow with four more before their capability token.
  b.Zeros(4);
  AppendCapability(b, false);
}

void AppendCapability(Bytes& b, bool server) {
  static const uint8_t kClientRequests[14] = {0x00, 0x00, 0x60, 0x08, 0x81, 0x81, 0xe8,
                                              0x0f, 0x6d, 0x7f, 0xff, 0xff, 0xff, 0xfe};
  static const uint8_t kServerRequests[14] = {0x00, 0x00, 0x60, 0x00, 0x01, 0x81, 0xe0,
                                              0x0f, 0x6d, 0x7f, 0xff, 0xff, 0xff, 0xfe};
  static const uint8_t kResponses[14] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x02, 0x68, 0x00, 0x00, 0x00};
  b.U8(0xE2);
  const size_t at = b.size();
  b.U16(0);
  b.U8(1);
  b.U8(14);
  b.Raw(server ? kServerRequests : kClientRequests, 14);
  b.U8(2);
  b.U8(14);
  b.Raw(kResponses, 14);
  b.PatchLength16(at);
}

void AppendShortCapability(Bytes& b) {
  static const uint8_t kRequests[7] = {0xEF, 0xFF, 0x6D, 0x7F, 0xFF, 0xFF, 0xE0};
  static const uint8_t kResponses[5] = {0x00, 0x02, 0x68, 0x00, 0x80};
  b.U8(0xE2);
  const size_t at = b.size();
  b.U16(0);
  b.U8(1);
  b.U8(7);
  b.Raw(kRequests, 7);
  b.U8(2);
  b.U8(5);
  b.Raw(kResponses, 5);
  b.PatchLength16(at);
}

void AppendLoginAck(Bytes& b, uint8_t status, const std::string& program) {
  b.U8(0xAD);
  const size_t at = b.size();
  b.U16(0);
  b.U8(status);
  const uint8_t version[] = {5, 0, 0, 0};
  b.Raw(version, 4);
  b.U8(static_cast<uint32_t>(program.size()));
  b.Text(program);
  const uint8_t programVersion[] = {15, 0, 7, 0};
  b.Raw(programVersion, 4);
  b.PatchLength16(at);
}

void AppendEnvChange(Bytes& b, uint8_t type, const std::string& now, const std::string& before) {
  b.U8(0xE3);
  const size_t at = b.size();
  b.U16(0);
  b.U8(type);
  b.U8(static_cast<uint32_t>(now.size()));
  b.Text(now);
  b.U8(static_cast<uint32_t>(before.size()));
  b.Text(before);
  b.PatchLength16(at);
}

void AppendDone(Bytes& b, uint8_t token, uint16_t status, uint16_t tranState, int32_t count) {
  b.U8(token);
  b.U16(status);
  b.U16(tranState);
  b.U32(static_cast<uint32_t>(count));
}

void AppendReturnStatus(Bytes& b, int32_t value) {
  b.U8(0x79);
  b.U32(static_cast<uint32_t>(value));
}

void AppendLanguage(Bytes& b, const std::string& text) {
  b.U8(0x21);
  b.U32(static_cast<uint32_t>(text.size() + 1));
  b.U8(0);  // status: no parameters
  b.Text(text);
}

void AppendLogout(Bytes& b) {
  b.U8(0x71);
  b.U8(0);
}

namespace {

void AppendMessageTail(Bytes& b, const Message& m) {
  b.U16(static_cast<uint32_t>(m.text.size()));
  b.Text(m.text);
  b.U8(static_cast<uint32_t>(m.server.size()));
  b.Text(m.server);
  b.U8(static_cast<uint32_t>(m.procedure.size()));
  b.Text(m.procedure);
  b.U16(m.line);
}

}  // namespace

void AppendErrorOrInfo(Bytes& b, uint8_t token, const Message& m) {
  b.U8(token);
  const size_t at = b.size();
  b.U16(0);
  b.U32(m.number);
  b.U8(m.state);
  b.U8(m.severity);
  AppendMessageTail(b, m);
  b.PatchLength16(at);
}

void AppendEed(Bytes& b, const Message& m, const std::string& sqlState, uint8_t status) {
  b.U8(0xE5);
  const size_t at = b.size();
  b.U16(0);
  b.U32(m.number);
  b.U8(m.state);
  b.U8(m.severity);
  b.U8(static_cast<uint32_t>(sqlState.size()));
  b.Text(sqlState);
  b.U8(status);
  b.U16(0);  // transaction state
  AppendMessageTail(b, m);
  b.PatchLength16(at);
}

void AppendRowFmt(Bytes& b, const std::vector<Column>& columns) {
  b.U8(0xEE);
  const size_t at = b.size();
  b.U16(0);
  b.U16(static_cast<uint32_t>(columns.size()));
  for (const Column& c : columns) {
    AppendColumnDescription(b, c, true);
    b.U8(0);  // no locale
  }
  b.PatchLength16(at);
}

void AppendParamFmt(Bytes& b, const std::vector<Column>& params) {
  b.U8(0xEC);
  const size_t at = b.size();
  b.U16(0);
  b.U16(static_cast<uint32_t>(params.size()));
  for (const Column& c : params) {
    AppendColumnDescription(b, c, true);
    b.U8(0);
  }
  b.PatchLength16(at);
}

void AppendValue(Bytes& b, const Column& c, Rng& rng, bool null) {
  switch (c.type) {
    case kInt1:
      b.U8(rng.Below(256));
      return;
    case kBit:
      b.U8(rng.Below(2));
      return;
    case kInt2:
      b.U16(rng.Below(65536));
      return;
    case kInt4:
      b.U32(rng.Chance(70) ? rng.Below(100000) : static_cast<uint32_t>(rng.Next()));
      return;
    case kShortDate:
      AppendShortDate(b, rng);
      return;
    case kFlt4:
      b.U32(Bits(static_cast<float>(rng.Below(1000000)) / 64.0f));
      return;
    case kMoney:
      AppendMoney(b, rng);
      return;
    case kDateTime:
      AppendDateTime(b, rng);
      return;
    case kFlt8:
      b.U64(Bits(static_cast<double>(rng.Next() >> 20) / 4096.0));
      return;
    case kShortMoney:
      b.U32(rng.Below(100000000));
      return;
    default:
      break;
  }
  const int width = LengthWidth(c.type);
  auto length = [&b, width](uint32_t n) {
    if (width == 1)
      b.U8(n);
    else
      b.U32(n);
  };
  if (null) {
    if (c.type == kText || c.type == kImage)
      b.U8(0);  // no text pointer: NULL
    else
      length(0);
    return;
  }
  switch (c.type) {
    case kIntN:
      length(c.maxLength);
      if (c.maxLength == 1) b.U8(rng.Below(256));
      if (c.maxLength == 2) b.U16(rng.Below(65536));
      if (c.maxLength == 4) b.U32(rng.Below(1000000));
      if (c.maxLength == 8) b.U64(rng.Next() >> 8);
      return;
    case kFltN:
      length(c.maxLength);
      if (c.maxLength == 4)
        b.U32(Bits(static_cast<float>(rng.Below(100000)) / 8.0f));
      else
        b.U64(Bits(static_cast<double>(rng.Below(100000000)) / 1000.0));
      return;
    case kMoneyN:
      length(c.maxLength);
      if (c.maxLength == 4)
        b.U32(rng.Below(100000000));
      else
        AppendMoney(b, rng);
      return;
    case kDateTimeN:
      length(c.maxLength);
      if (c.maxLength == 4)
        AppendShortDate(b, rng);
      else
        AppendDateTime(b, rng);
      return;
    case kNumN:
    case kDecN:
      length(NumericBytes(c.precision));
      AppendNumeric(b, rng, c.precision);
      return;
    case kChar: {
      length(c.maxLength);
      b.Fixed(Phrase(rng, c.maxLength), c.maxLength, ' ');
      return;
    }
    case kVarChar: {
      const std::string s = Phrase(rng, c.maxLength);
      length(static_cast<uint32_t>(s.size()));
      b.Text(s);
      return;
    }
    case kBinary:
      length(c.maxLength);
      RandomBytes(b, rng, c.maxLength);
      return;
    case kVarBinary: {
      const uint32_t n = rng.Range(1, c.maxLength);
      length(n);
      RandomBytes(b, rng, n);
      return;
    }
    case kText:
    case kImage: {
      // Text pointer, timestamp, then the value with its 4-byte length.
      b.U8(16);
      RandomBytes(b, rng, 16);
      RandomBytes(b, rng, 8);
      const uint32_t n = rng.Range(10, 600);
      b.U32(n);
      if (c.type == kText) {
        std::string s;
        while (s.size() < n) s += Phrase(rng, 60) + ". ";
        s.resize(n);
        b.Text(s);
      } else {
        RandomBytes(b, rng, n);
      }
      return;
    }
    case kLongChar: {
      std::string s = Phrase(rng, 200);
      if (rng.Chance(20))
        while (s.size() < 300) s += " " + Phrase(rng, 60);
      b.U32(static_cast<uint32_t>(s.size()));
      b.Text(s);
      return;
    }
    case kLongBinary: {
      const uint32_t n = rng.Range(1, 300);
      b.U32(n);
      RandomBytes(b, rng, n);
      return;
    }
    default:
      length(0);
      return;
  }
}

void AppendRow(Bytes& b, uint8_t token, const std::vector<Column>& columns, Rng& rng) {
  b.U8(token);
  for (const Column& c : columns) AppendValue(b, c, rng, (c.status & 0x20) && rng.Chance(12));
}

void AppendRpc(Bytes& b, const std::string& name, const std::vector<Column>& params, Rng& rng) {
  b.U8(0xE0);
  const size_t at = b.size();
  b.U16(0);
  b.U8(static_cast<uint32_t>(name.size()));
  b.Text(name);
  b.U16(0);  // options
  for (const Column& p : params) {
    b.U8(static_cast<uint32_t>(p.name.size()));
    b.Text(p.name);
    b.U8(p.status & 0x01);
    b.U8(p.type);
    const int width = LengthWidth(p.type);
    if (width == 1) b.U8(p.maxLength);
    if (width == 4) b.U32(p.maxLength);
    if (p.type == kNumN || p.type == kDecN) {
      b.U8(p.precision);
      b.U8(p.scale);
    }
    AppendValue(b, p, rng, false);
  }
  b.PatchLength16(at);
}

void AppendDbRpc(Bytes& b, const std::string& name, bool withParams) {
  b.U8(0xE6);
  const size_t at = b.size();
  b.U16(0);
  b.U8(static_cast<uint32_t>(name.size()));
  b.Text(name);
  b.U16(withParams ? 0x0002 : 0);
  b.PatchLength16(at);
}

void AppendCurDeclare(Bytes& b, const std::string& name, const std::string& statement,
                      bool forUpdate, const std::vector<std::string>& columns) {
  b.U8(0x86);
  const size_t at = b.size();
  b.U16(0);
  b.U8(static_cast<uint32_t>(name.size()));
  b.Text(name);
  b.U8(forUpdate ? 0x02 : 0x01);  // options: updatable or read only
  b.U8(0);                        // status
  b.U16(static_cast<uint32_t>(statement.size()));
  b.Text(statement);
  b.U8(forUpdate ? static_cast<uint32_t>(columns.size()) : 0);
  if (forUpdate) {
    for (const std::string& c : columns) {
      b.U8(static_cast<uint32_t>(c.size()));
      b.Text(c);
    }
  }
  b.PatchLength16(at);
}

void AppendCurInfo(Bytes& b, uint32_t cursorId, const std::string& name, uint8_t command,
                   uint16_t status, int32_t rows) {
  b.U8(0x83);
  const size_t at = b.size();
  b.U16(0);
  b.U32(cursorId);
  if (cursorId == 0) {
    b.U8(static_cast<uint32_t>(name.size()));
    b.Text(name);
  }
  b.U8(command);
  b.U16(status);
  b.U32(static_cast<uint32_t>(rows));
  b.PatchLength16(at);
}

void AppendCurOpen(Bytes& b, uint32_t cursorId, const std::string& name) {
  b.U8(0x84);
  const size_t at = b.size();
  b.U16(0);
  b.U32(cursorId);
  if (cursorId == 0) {
    b.U8(static_cast<uint32_t>(name.size()));
    b.Text(name);
  }
  b.U8(0);
  b.PatchLength16(at);
}

void AppendCurFetch(Bytes& b, uint32_t cursorId, uint8_t fetchType) {
  b.U8(0x82);
  const size_t at = b.size();
  b.U16(0);
  b.U32(cursorId);
  b.U8(fetchType);
  b.PatchLength16(at);
}

void AppendCurClose(Bytes& b, uint32_t cursorId, bool deallocate) {
  b.U8(0x80);
  const size_t at = b.size();
  b.U16(0);
  b.U32(cursorId);
  b.U8(deallocate ? 1 : 0);
  b.PatchLength16(at);
}

void AppendOrderBy(Bytes& b, const std::vector<uint8_t>& columns) {
  b.U8(0xA9);
  b.U16(static_cast<uint32_t>(columns.size()));
  for (uint8_t c : columns) b.U8(c);
}

void Packetize(const std::vector<uint8_t>& message, uint8_t type, uint32_t packetSize,
               uint8_t packetNumber, std::vector<uint8_t>& out) {
  const size_t room = packetSize - 8;
  size_t at = 0;
  do {
    const size_t n = message.size() - at < room ? message.size() - at : room;
    const bool last = at + n == message.size();
    const size_t length = n + 8;
    const uint8_t header[8] = {type,
                               static_cast<uint8_t>(last ? 1 : 0),
                               static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length),
                               0,
                               0,
                               packetNumber,
                               0};
    out.insert(out.end(), header, header + 8);
    out.insert(out.end(), message.begin() + static_cast<long>(at),
               message.begin() + static_cast<long>(at + n));
    at += n;
    ++packetNumber;
  } while (at < message.size());
}

}  // namespace gen
