// TDS 5.0 messages built byte by byte: integers in the connection's byte order, the login
// record, the tokens a client and a server exchange, and the split of a message into packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rng.h"

namespace gen {

// Bytes of a message under construction. Integers go out in the connection's byte order; the
// packet header's length is the one integer that is always most significant byte first.
class Bytes {
 public:
  explicit Bytes(bool msbFirst) : m_msb(msbFirst) {}

  bool msbFirst() const { return m_msb; }
  size_t size() const { return m_data.size(); }
  const std::vector<uint8_t>& data() const { return m_data; }
  std::vector<uint8_t>& data() { return m_data; }
  void clear() { m_data.clear(); }

  void U8(uint32_t v) { m_data.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { Int(v, 2); }
  void U32(uint32_t v) { Int(v, 4); }
  void U64(uint64_t v) { Int(v, 8); }
  void Raw(const void* bytes, size_t n);
  void Text(const std::string& s) { Raw(s.data(), s.size()); }
  // s in a field of `width` bytes, cut or filled with `fill`.
  void Fixed(const std::string& s, size_t width, uint8_t fill = 0);
  void Zeros(size_t n) { m_data.insert(m_data.end(), n, 0); }
  // A 2-byte length at `at` that counts the bytes after it up to the end.
  void PatchLength16(size_t at);

 private:
  void Int(uint64_t v, int size);

  bool m_msb;
  std::vector<uint8_t> m_data;
};

// TDS datatype codes the generator writes.
enum DataType : uint8_t {
  kImage = 0x22,
  kText = 0x23,
  kVarBinary = 0x25,
  kIntN = 0x26,
  kVarChar = 0x27,
  kBinary = 0x2D,
  kChar = 0x2F,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kInt4 = 0x38,
  kShortDate = 0x3A,
  kFlt4 = 0x3B,
  kMoney = 0x3C,
  kDateTime = 0x3D,
  kFlt8 = 0x3E,
  kDecN = 0x6A,
  kNumN = 0x6C,
  kFltN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kShortMoney = 0x7A,
  kLongChar = 0xAF,
  kLongBinary = 0xE1,
};

// A column of a result set, or a parameter.
struct Column {
  std::string name;
  uint8_t status = 0;
  int32_t userType = 0;
  uint8_t type = kInt4;
  uint32_t maxLength = 0;  // for the variable-length types
  uint8_t precision = 0;   // numeric and decimal
  uint8_t scale = 0;
  std::string table;  // text and image columns name their table
};

// 0 for the fixed-size types, else 1 or 4.
int LengthWidth(uint8_t type);
// Size of a fixed-size value (0 for the others).
int FixedSize(uint8_t type);
// Bytes of a numeric value of the given precision, sign byte included.
uint32_t NumericBytes(uint8_t precision);
// A column of a random class with a fitting name; text and image only when allowed.
Column RandomColumn(Rng& rng, int index, bool allowLargeObjects);

// Login message: the 564-byte record, four more bytes and the client's CAPABILITY.
struct LoginParams {
  bool msbFirst = false;
  std::string host, user, password, process, application, server, library, language, charset;
  uint32_t packetSize = 512;
};
void AppendLogin(Bytes& b, const LoginParams& p);

// The capability token; `server` picks the answer's masks. The masks are 14 bytes long each,
// as clients and servers send them.
void AppendCapability(Bytes& b, bool server);
// The same token in the short form, a 7-byte request and a 5-byte response mask.
void AppendShortCapability(Bytes& b);

void AppendLoginAck(Bytes& b, uint8_t status, const std::string& program);
void AppendEnvChange(Bytes& b, uint8_t type, const std::string& now, const std::string& before);
void AppendDone(Bytes& b, uint8_t token, uint16_t status, uint16_t tranState, int32_t count);
void AppendReturnStatus(Bytes& b, int32_t value);
void AppendLanguage(Bytes& b, const std::string& text);
void AppendLogout(Bytes& b);

struct Message {
  uint32_t number;
  uint8_t state;
  uint8_t severity;
  std::string text;
  std::string server;
  std::string procedure;
  uint16_t line;
};
// ERROR (0xAA) or INFO (0xAB).
void AppendErrorOrInfo(Bytes& b, uint8_t token, const Message& m);
void AppendEed(Bytes& b, const Message& m, const std::string& sqlState, uint8_t status);

// ROWFMT; PARAMFMT with the same column descriptions.
void AppendRowFmt(Bytes& b, const std::vector<Column>& columns);
void AppendParamFmt(Bytes& b, const std::vector<Column>& params);
// ROW (0xD1) or PARAMS (0xD7): one value per column, NULLs now and then where allowed.
void AppendRow(Bytes& b, uint8_t token, const std::vector<Column>& columns, Rng& rng);
// One value of the column as row data carries it.
void AppendValue(Bytes& b, const Column& c, Rng& rng, bool null);

// RPC (0xE0) with its parameters inline.
void AppendRpc(Bytes& b, const std::string& name, const std::vector<Column>& params, Rng& rng);
// DBRPC (0xE6); its parameters follow as PARAMFMT and PARAMS.
void AppendDbRpc(Bytes& b, const std::string& name, bool withParams);

void AppendCurDeclare(Bytes& b, const std::string& name, const std::string& statement,
                      bool forUpdate, const std::vector<std::string>& columns);
// CURINFO: command 1 sets the rows per fetch (client), 3 reports (server).
void AppendCurInfo(Bytes& b, uint32_t cursorId, const std::string& name, uint8_t command,
                   uint16_t status, int32_t rows);
void AppendCurOpen(Bytes& b, uint32_t cursorId, const std::string& name);
void AppendCurFetch(Bytes& b, uint32_t cursorId, uint8_t fetchType);
void AppendCurClose(Bytes& b, uint32_t cursorId, bool deallocate);

void AppendOrderBy(Bytes& b, const std::vector<uint8_t>& columns);

// The message split into TDS packets of at most packetSize bytes: type, status (1 on the
// last packet), length, channel 0, packet number, window 0.
void Packetize(const std::vector<uint8_t>& message, uint8_t type, uint32_t packetSize,
               uint8_t packetNumber, std::vector<uint8_t>& out);

}  // namespace gen
