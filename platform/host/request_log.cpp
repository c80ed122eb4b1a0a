#include "request_log.h"

#include <algorithm>
#include <cstring>

#include "tdsengine/field_value.h"

namespace {

// Token codes the tracker reads.
constexpr int32_t kLanguage = 0x21;
constexpr int32_t kLogout = 0x71;
constexpr int32_t kReturnStatus = 0x79;
constexpr int32_t kCurClose = 0x80;
constexpr int32_t kCurDelete = 0x81;
constexpr int32_t kCurFetch = 0x82;
constexpr int32_t kCurInfo = 0x83;
constexpr int32_t kCurOpen = 0x84;
constexpr int32_t kCurUpdate = 0x85;
constexpr int32_t kCurDeclare = 0x86;
constexpr int32_t kOptionCmd = 0xA6;
constexpr int32_t kError = 0xAA;
constexpr int32_t kInfo = 0xAB;
constexpr int32_t kReturnValue = 0xAC;
constexpr int32_t kLoginAck = 0xAD;
constexpr int32_t kRow = 0xD1;
constexpr int32_t kParams = 0xD7;
constexpr int32_t kRpc = 0xE0;
constexpr int32_t kEed = 0xE5;
constexpr int32_t kDbRpc = 0xE6;
constexpr int32_t kDynamic = 0xE7;
constexpr int32_t kParamFmt = 0xEC;
constexpr int32_t kRowFmt = 0xEE;
constexpr int32_t kDone = 0xFD;
constexpr int32_t kDoneProc = 0xFE;
constexpr int32_t kDoneInProc = 0xFF;

constexpr uint16_t kDoneMore = 0x0001;
constexpr uint16_t kDoneCount = 0x0010;
constexpr uint16_t kDoneAttention = 0x0020;

// Message types that are requests without tokens.
constexpr int32_t kTypeLanguage = 1;
constexpr int32_t kTypeLogin = 2;
constexpr int32_t kTypeRpc = 3;
constexpr int32_t kTypeAttention = 6;
constexpr int32_t kTypeBulk = 7;
constexpr int32_t kTypeLogout = 13;

// A parameter description's status marks an output parameter with 0x08 as the format token is
// documented, and with 0x01 as real clients send it.
constexpr uint64_t kParamOutputBits = 0x09;

constexpr int32_t kLoginAckAccepted = 5;
constexpr int32_t kLoginAckRefused = 6;
// A message class above this is an error; EED carries both errors and informational messages.
constexpr int32_t kMaxInformationalClass = 10;

// Requests written are kept for reuse, up to this many.
constexpr size_t kSpareRequests = 64;

const char kOrphanNote[] =
    "answer without its request in the capture (the capture began in the middle of the "
    "conversation, or bytes were lost)";
const char kLostNote[] = "bytes of the answer were lost; the answer may be incomplete";
const char kForcedNote[] = "written before its answer ended: too many later requests waiting";
const char kNoCompletionNote[] =
    "the answer's message does not end in a completion token; the message is taken to end it";
const char kUnknownAckNote[] = "ended by the acknowledgement of an attention the capture lacks";

// The fields of one token record.
class Fields {
 public:
  Fields(const DisplayTree& tree, const PacketRecord& p)
      : m_begin(tree.fields().data() + p.firstField), m_end(m_begin + p.fieldCount) {}
  const FieldRecord* begin() const { return m_begin; }
  const FieldRecord* end() const { return m_end; }
  const FieldRecord* Find(const char* label, const FieldRecord* from = nullptr) const {
    for (const FieldRecord* f = from ? from : m_begin; f < m_end; ++f)
      if (f->label[0] == label[0] && std::strcmp(f->label, label) == 0) return f;
    return nullptr;
  }
  // The field after the one with this label.
  const FieldRecord* After(const char* label) const {
    const FieldRecord* f = Find(label);
    return f && f + 1 < m_end ? f + 1 : nullptr;
  }

 private:
  const FieldRecord* m_begin;
  const FieldRecord* m_end;
};

inline bool Is(const FieldRecord& f, const char* label) {
  return f.label[0] == label[0] && std::strcmp(f.label, label) == 0;
}

std::string Chars(const FieldRecord* f, size_t skip = 0) {
  if (!f || f->size <= 0 || static_cast<size_t>(f->size) <= skip) return std::string();
  return std::string(reinterpret_cast<const char*>(f->data) + skip,
                     static_cast<size_t>(f->size) - skip);
}

// Fixed-size names and strings are padded with zeros or blanks.
std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s;
}

// A name of the login record: its fixed-size field, cut to the length that follows it.
std::string RecordName(const Fields& fs, const char* label, const char* lengthLabel) {
  const FieldRecord* name = fs.Find(label);
  if (!name) return std::string();
  size_t n = static_cast<size_t>(name->size);
  if (const FieldRecord* length = fs.Find(lengthLabel))
    n = std::min<size_t>(n, static_cast<size_t>(FieldUnsigned(*length)));
  return std::string(reinterpret_cast<const char*>(name->data), n);
}

std::string Version(const FieldRecord* f) {
  std::string s;
  if (!f) return s;
  for (int32_t i = 0; i < f->size; ++i) {
    if (i) s += '.';
    s += std::to_string(f->data[i]);
  }
  return s;
}

int64_t Signed(const FieldRecord* f) {
  return f ? FieldSigned(*f) : 0;
}
uint64_t Unsigned(const FieldRecord* f) {
  return f ? FieldUnsigned(*f) : 0;
}

const char* TableText(const FieldRecord* f) {
  if (!f) return "";
  const int row = FieldTableRow(*f);
  return row >= 0 ? f->table[row].text : "";
}

ShownValue Shown(const FieldRecord& f) {
  ShownValue v;
  if (FieldIsInteger(f)) {
    v.kind = f.format == FF_SIGNED ? ShownValue::Kind::kSigned : ShownValue::Kind::kUnsigned;
    v.number = f.format == FF_SIGNED ? static_cast<uint64_t>(FieldSigned(f)) : FieldUnsigned(f);
    return v;
  }
  if (f.format == FF_STRING) {
    v.kind = ShownValue::Kind::kString;
    v.bytes = Chars(&f);
  } else if (f.format == FF_VERSION) {
    v.kind = ShownValue::Kind::kString;
    v.bytes = Version(&f);
  } else {
    v.kind = ShownValue::Kind::kHex;
    v.bytes = Chars(&f);
  }
  return v;
}

ShownValue Null() {
  ShownValue v;
  v.kind = ShownValue::Kind::kNull;
  return v;
}

// PARAMFMT: name, output bit and datatype of each parameter.
template <typename Desc>
void ReadParamFormat(const Fields& fs, std::vector<Desc>& out) {
  out.clear();
  for (const FieldRecord& f : fs) {
    if (Is(f, "Param Name Length"))
      out.emplace_back();
    else if (out.empty())
      continue;
    else if (Is(f, "Param Name"))
      out.back().name = Chars(&f);
    else if (Is(f, "Status"))
      out.back().output = (FieldUnsigned(f) & kParamOutputBits) != 0;
    else if (Is(f, "Data Type"))
      out.back().type = static_cast<int32_t>(FieldUnsigned(f));
  }
}

// PARAMS (and ROW): one value per "Data" field; a variable-length value of length 0 is NULL.
void ReadValues(const Fields& fs, std::vector<ShownValue>& out) {
  out.clear();
  bool lengthGiven = false;
  uint64_t length = 0;
  for (const FieldRecord& f : fs) {
    if (Is(f, "Data Length")) {
      lengthGiven = true;
      length = FieldUnsigned(f);
    } else if (Is(f, "Data")) {
      out.push_back(lengthGiven && length == 0 ? Null() : Shown(f));
      lengthGiven = false;
    }
  }
}

// RPC parameters inline: name, status, datatype, data count (under the name length's label),
// data.
void ReadRpcParams(const Fields& fs, std::vector<RequestParam>& out) {
  enum { kNone, kNamed, kTyped, kCounted } state = kNone;
  for (const FieldRecord& f : fs) {
    if (Is(f, "Param Name Length")) {
      if (state == kTyped) {
        state = kCounted;
        out.back().value = Null();  // until its data is seen
      } else {
        out.emplace_back();
        state = kNamed;
      }
    } else if (state == kNone) {
      continue;
    } else if (Is(f, "Param Name")) {
      out.back().name = Chars(&f);
    } else if (Is(f, "Status") && state == kNamed) {
      out.back().output = (FieldUnsigned(f) & 0x01) != 0;
    } else if (Is(f, "Data Type")) {
      out.back().type = static_cast<int32_t>(FieldUnsigned(f));
      state = kTyped;
    } else if (Is(f, "Param Data")) {
      out.back().value = Shown(f);
    }
  }
}

void ReadColumns(const Fields& fs, std::vector<ResultColumn>& out) {
  out.clear();
  for (const FieldRecord& f : fs) {
    if (Is(f, "Column name length"))
      out.emplace_back();
    else if (out.empty())
      continue;
    else if (Is(f, "Column name"))
      out.back().name = Chars(&f);
    else if (Is(f, "Data Type"))
      out.back().type = static_cast<int32_t>(FieldUnsigned(f));
  }
}

// ERROR, INFO and EED: number, state and class under the token's own labels; the text follows
// the message length.
ServerMessage ReadServerMessage(const Fields& fs, int32_t token) {
  static const char* const kLabels[3][3] = {
      {"Error number", "Error state", "Error class"},
      {"Info number", "Info state", "Info class"},
      {"Message Number", "Message State", "Class of the message"},
  };
  ServerMessage m;
  m.token = token == kError  ? ServerMessage::Token::kError
            : token == kInfo ? ServerMessage::Token::kInfo
                             : ServerMessage::Token::kEed;
  const char* const* labels = kLabels[static_cast<int>(m.token)];
  // The EED number is unsigned; the others are signed.
  const FieldRecord* number = fs.Find(labels[0]);
  m.number = token == kEed ? static_cast<int64_t>(Unsigned(number)) : Signed(number);
  m.state = static_cast<int32_t>(Unsigned(fs.Find(labels[1])));
  m.severity = static_cast<int32_t>(Unsigned(fs.Find(labels[2])));
  const FieldRecord* text = fs.After("Message Length");
  if (text && !Is(*text, "Server name length")) m.text = Chars(text);
  return m;
}

// CURDECLARE as real clients send it: token length (2), name length (1), name, options (1),
// status (1), statement length (2), statement. The byte order is the one in which the token
// length matches the token's extent. False when the token does not have that shape.
bool ReadDeclaration(const DisplayTree& tree, const PacketRecord& p, std::string& name,
                     std::string& statement) {
  if (p.spanOffset < 0 || p.spanSize < 8 || !tree.tdsBegin()) return false;
  const uint8_t* t = tree.tdsBegin() + p.spanOffset;
  const size_t n = static_cast<size_t>(p.spanSize);
  const size_t lsbFirst = t[1] | static_cast<size_t>(t[2]) << 8;
  const size_t msbFirst = static_cast<size_t>(t[1]) << 8 | t[2];
  if (lsbFirst != n - 3 && msbFirst != n - 3) return false;
  const bool lsb = lsbFirst == n - 3;
  size_t at = 3;
  const size_t nameLength = t[at++];
  if (at + nameLength + 4 > n) return false;
  const char* text = reinterpret_cast<const char*>(t);
  name.assign(text + at, nameLength);
  at += nameLength + 2;  // options and status
  const size_t statementLength = lsb ? t[at] | static_cast<size_t>(t[at + 1]) << 8
                                     : static_cast<size_t>(t[at]) << 8 | t[at + 1];
  at += 2;
  if (at + statementLength > n) return false;
  statement.assign(text + at, statementLength);
  return true;
}

std::string CursorName(const Fields& fs, const std::unordered_map<uint32_t, std::string>& names) {
  const FieldRecord* name = fs.Find("Cursor Name");
  if (name) return Trimmed(Chars(name));
  const FieldRecord* id = fs.Find("Cursor ID");
  if (!id) return std::string();
  const uint32_t n = static_cast<uint32_t>(FieldUnsigned(*id));
  auto found = names.find(n);
  if (found != names.end()) return found->second;
  return "cursor " + std::to_string(n);
}

const char* FetchWord(uint64_t type) {
  switch (type) {
    case 1:
      return "next";
    case 2:
      return "previous";
    case 3:
      return "first";
    case 4:
      return "last";
    case 5:
      return "absolute";
    case 6:
      return "relative";
    default:
      return "fetch";
  }
}

const char* DynamicWord(uint64_t type) {
  switch (type) {
    case 0x01:
      return "prepare";
    case 0x02:
      return "execute";
    case 0x04:
      return "deallocate";
    case 0x08:
      return "execute immediate";
    default:
      return "dynamic";
  }
}

// The argument of an option command as it reads: its table text, its note (true or false),
// its characters or its number.
std::string OptionArgument(const FieldRecord* f) {
  if (!f) return std::string();
  if (f->table && f->rows > 0) return TableText(f);
  if (f->format == FF_STRING) return Chars(f);
  if (f->note && (std::strcmp(f->note, "True") == 0 || std::strcmp(f->note, "False") == 0))
    return f->note;
  return std::to_string(FieldUnsigned(*f));
}

void Join(std::string& text, const std::string& more, const char* separator = " ") {
  if (more.empty()) return;
  if (!text.empty()) text += separator;
  text += more;
}

}  // namespace

RequestTracker::RequestTracker(RequestOutput& sink, size_t maxWaiting)
    : m_sink(sink), m_maxWaiting(maxWaiting ? maxWaiting : 1) {}

RequestTracker::~RequestTracker() = default;

RequestTracker::Connection& RequestTracker::ConnectionOf(uint32_t conn) {
  Connection& c = m_connections[conn];
  if (!c.info) {
    c.info = std::make_shared<ConnectionInfo>();
    c.info->conn = conn;
  }
  return c;
}

void RequestTracker::ConnectionOpened(uint32_t conn, const std::string& client,
                                      const std::string& server) {
  Connection& c = ConnectionOf(conn);
  c.info->client = client;
  c.info->server = server;
}

void RequestTracker::Message(const WalkedMessage& m) {
  if (!m.tree) return;
  Connection& c = ConnectionOf(m.conn);
  if (m.clientToServer)
    ClientMessage(c, m);
  else
    ServerMessage(c, m);
  Flush();
}

Request* RequestTracker::NewRequest(Connection& c, const WalkedMessage& m) {
  std::unique_ptr<Request> r;
  if (m_spare.empty()) {
    r.reset(new Request);
  } else {
    r = std::move(m_spare.back());
    m_spare.pop_back();
    r->Reset();
  }
  r->conn = m.conn;
  r->connection = c.info;
  r->firstFrame = m.firstFrame;
  r->lastFrame = m.lastFrame;
  r->timeUs = m.firstUs;
  Request* raw = r.get();
  Queue(std::move(r));
  return raw;
}

void RequestTracker::Queue(std::unique_ptr<Request> r) {
  // Requests are in the order of their first frame; a request whose message took longer to
  // arrive than a later one's goes before it.
  auto at = m_queue.end();
  while (at != m_queue.begin() && (*(at - 1))->firstFrame > r->firstFrame) --at;
  m_queue.insert(at, std::move(r));
}

void RequestTracker::ClientMessage(Connection& c, const WalkedMessage& m) {
  const DisplayTree& tree = *m.tree;
  const std::vector<PacketRecord>& records = tree.packets();
  Request* r = NewRequest(c, m);

  if (m.type == kTypeAttention) {
    r->kind = RequestKind::kAttention;
    // The attention cancels the request whose answer the client was reading.
    if (c.last) {
      c.last->cancelled = true;
      c.last->held = false;
      c.last = nullptr;
    }
    c.open.push_back(r);
    return;
  }
  if (c.last) c.last->held = false;
  c.last = r;
  c.open.push_back(r);
  if (m.cut != WalkedMessage::Cut::kNone && m.cutReason) r->note = m.cutReason;

  switch (m.type) {
    case kTypeLogin: {
      r->kind = RequestKind::kLogin;
      r->login.reset(new LoginRecord);
      LoginRecord& login = *r->login;
      if (!records.empty()) {
        const Fields fs(tree, records.front());
        login.host = RecordName(fs, "Host Name", "Host Name Length");
        login.user = RecordName(fs, "User Name", "User Name Length");
        login.application = RecordName(fs, "Application Name", "Application Name Length");
        login.library = RecordName(fs, "Client Library Name", "Client Library Length");
        login.libraryVersion = Version(fs.Find("Client Library Version"));
        login.packetSize = RecordName(fs, "Packet Size", "Packet Size Length");
        if (const FieldRecord* order = fs.Find("Two Byte Integer Ordering"))
          login.byteOrder = FieldUnsigned(*order) == 2 ? "big-endian" : "little-endian";
      }
      c.info->user = login.user;
      c.info->host = login.host;
      c.info->application = login.application;
      r->text = login.application;
      Join(r->text, login.library, ", ");
      Join(r->text, login.libraryVersion);
      if (!login.packetSize.empty()) Join(r->text, "packet size " + login.packetSize, ", ");
      return;
    }
    case kTypeLanguage:
      r->kind = RequestKind::kLanguage;
      if (!records.empty()) r->text = Chars(Fields(tree, records.front()).Find("Message Data"));
      return;
    case kTypeRpc:
      r->kind = RequestKind::kRpc;
      return;
    case kTypeBulk:
      r->kind = RequestKind::kBulk;
      r->text = std::to_string(m.bytes) + " bytes of rows";
      return;
    case kTypeLogout:
      r->kind = RequestKind::kLogout;
      return;
    default:
      break;
  }

  // A token stream: the kind and the text come from the first token, parameters from the
  // parameter formats and values after it.
  std::vector<ParamDesc> formats;
  std::vector<ShownValue> values;
  bool first = true;
  for (const PacketRecord& p : records) {
    if (p.token < 0) continue;
    const Fields fs(tree, p);
    if (first) {
      first = false;
      switch (p.token) {
        case kLanguage: {
          r->kind = RequestKind::kLanguage;
          r->text = Chars(fs.Find("Language text"), 1);  // after the status byte
          break;
        }
        case kRpc:
          r->kind = RequestKind::kRpc;
          r->name = r->text = Chars(fs.Find("RPC Name"));
          ReadRpcParams(fs, r->params);
          r->paramCount = static_cast<int32_t>(r->params.size());
          break;
        case kDbRpc:
          r->kind = RequestKind::kDbRpc;
          r->name = r->text = Chars(fs.Find("RPC Name"));
          break;
        case kDynamic: {
          r->kind = RequestKind::kDynamic;
          r->name = Chars(fs.Find("Id"));
          r->text = DynamicWord(Unsigned(fs.Find("Type")));
          Join(r->text, r->name);
          const std::string statement = Chars(fs.Find("Statement"));
          if (!statement.empty()) r->text += ": " + statement;
          break;
        }
        case kCurDeclare: {
          r->kind = RequestKind::kCursorDeclare;
          std::string statement;
          if (!ReadDeclaration(tree, p, r->name, statement)) {
            r->name = Trimmed(Chars(fs.Find("Cursor Name")));
            statement = Chars(fs.Find("Statement "));
          }
          r->text = r->name + ": " + statement;
          break;
        }
        case kCurOpen:
          r->kind = RequestKind::kCursorOpen;
          r->name = r->text = CursorName(fs, c.cursorNames);
          break;
        case kCurFetch: {
          r->kind = RequestKind::kCursorFetch;
          r->name = r->text = CursorName(fs, c.cursorNames);
          Join(r->text, FetchWord(Unsigned(fs.Find("Cursor fetch type"))));
          if (const FieldRecord* row = fs.Find("Row number"))
            Join(r->text, std::to_string(Signed(row)));
          break;
        }
        case kCurInfo:
          r->kind = RequestKind::kCursorInfo;
          r->name = r->text = CursorName(fs, c.cursorNames);
          Join(r->text, TableText(fs.Find("Command")), ": ");
          if (const FieldRecord* count = fs.Find("Row count"))
            Join(r->text, std::to_string(Signed(count)));
          break;
        case kCurClose:
          r->kind = RequestKind::kCursorClose;
          r->name = r->text = CursorName(fs, c.cursorNames);
          if (Unsigned(fs.Find("Options")) == 1) Join(r->text, "deallocate");
          break;
        case kCurDelete:
          r->kind = RequestKind::kCursorDelete;
          r->name = r->text = CursorName(fs, c.cursorNames);
          Join(r->text, Chars(fs.Find("Table name")));
          break;
        case kCurUpdate: {
          r->kind = RequestKind::kCursorUpdate;
          r->name = r->text = CursorName(fs, c.cursorNames);
          Join(r->text, Chars(fs.Find("Table name")));
          const std::string statement = Chars(fs.Find("Statement"));
          if (!statement.empty()) r->text += ": " + statement;
          break;
        }
        case kOptionCmd: {
          r->kind = RequestKind::kOption;
          r->name = TableText(fs.Find("Option"));
          r->text = std::string(TableText(fs.Find("Command"))) + ": " + r->name;
          const FieldRecord* argument = fs.Find("Argument");
          if (!argument) argument = fs.Find("Row Count");
          Join(r->text, OptionArgument(argument));
          break;
        }
        case kLogout:
          r->kind = RequestKind::kLogout;
          break;
        default:
          r->kind = RequestKind::kOther;
          r->text = p.shortName ? p.shortName : "";
          break;
      }
      continue;
    }
    if (p.token == kParamFmt) {
      ReadParamFormat(fs, formats);
      r->paramCount += static_cast<int32_t>(formats.size());
    } else if (p.token == kParams) {
      ReadValues(fs, values);
      for (size_t i = 0; i < values.size(); ++i) {
        RequestParam param;
        if (i < formats.size()) {
          param.name = formats[i].name;
          param.type = formats[i].type;
          param.output = formats[i].output;
        }
        param.value = std::move(values[i]);
        r->params.push_back(std::move(param));
      }
    }
  }
  if (first) r->text = "message type " + std::to_string(m.type);
}

Request* RequestTracker::Orphan(Connection& c, const WalkedMessage& m) {
  Request* r = NewRequest(c, m);
  r->kind = RequestKind::kOther;
  r->note = kOrphanNote;
  c.open.push_front(r);
  return r;
}

void RequestTracker::ServerMessage(Connection& c, const WalkedMessage& m) {
  const DisplayTree& tree = *m.tree;
  for (const PacketRecord& p : tree.packets()) {
    if (p.token < 0) continue;
    Request* r = c.open.empty() ? Orphan(c, m) : c.open.front();
    const Fields fs(tree, p);
    c.completionLast = p.token == kDone || p.token == kDoneProc || p.token == kDoneInProc;
    switch (p.token) {
      case kRowFmt: {
        std::shared_ptr<ResultColumns> columns = std::make_shared<ResultColumns>();
        ReadColumns(fs, *columns);
        c.lastColumns = std::move(columns);
        r->results.emplace_back();
        r->results.back().columns = c.lastColumns;
        break;
      }
      case kRow:
        AddRows(c, *r, 1);
        break;
      case kParamFmt:
        ReadParamFormat(fs, c.serverParams);
        break;
      case kParams: {
        std::vector<ShownValue> values;
        ReadValues(fs, values);
        for (size_t i = 0; i < values.size(); ++i) {
          RequestParam out;
          if (i < c.serverParams.size()) {
            out.name = c.serverParams[i].name;
            out.type = c.serverParams[i].type;
          }
          out.output = true;
          out.value = std::move(values[i]);
          r->output.push_back(std::move(out));
        }
        break;
      }
      case kReturnValue: {
        RequestParam out;
        out.name = Chars(fs.Find("Param Name"));
        out.type = static_cast<int32_t>(Unsigned(fs.Find("Data Type")));
        out.output = true;
        const FieldRecord* data = fs.Find("Param Data");
        out.value = data ? Shown(*data) : Null();
        r->output.push_back(std::move(out));
        break;
      }
      case kReturnStatus:
        r->hasReturnStatus = true;
        r->returnStatus = static_cast<int32_t>(Signed(fs.Find("Value")));
        break;
      case kError:
      case kInfo:
      case kEed: {
        ::ServerMessage message = ReadServerMessage(fs, p.token);
        const bool error =
            p.token == kError || (p.token == kEed && message.severity > kMaxInformationalClass);
        (error ? r->errors : r->messages).push_back(std::move(message));
        break;
      }
      case kLoginAck:
        if (r->login) {
          const uint64_t status = Unsigned(fs.Find("Status"));
          r->login->accepted = status == kLoginAckAccepted  ? 1
                               : status == kLoginAckRefused ? 0
                                                            : r->login->accepted;
        }
        break;
      case kCurInfo: {
        // The answer to a declaration names the cursor's id.
        const FieldRecord* id = fs.Find("Cursor ID");
        const uint32_t n = static_cast<uint32_t>(Unsigned(id));
        if (n != 0 && r->kind == RequestKind::kCursorDeclare && !r->name.empty())
          c.cursorNames[n] = r->name;
        break;
      }
      case kDone:
      case kDoneProc:
      case kDoneInProc: {
        const uint16_t status = static_cast<uint16_t>(Unsigned(fs.Find("Status")));
        if (status & kDoneCount) {
          if (const FieldRecord* count = fs.Find("Row Count")) {
            r->countedRows += Signed(count);
            r->countValid = true;
          }
        }
        if (p.token == kDoneInProc || (status & kDoneMore)) break;
        if (status & kDoneAttention) {
          // Everything up to the attention it acknowledges is over.
          const bool known = std::any_of(c.open.begin(), c.open.end(), [](const Request* q) {
            return q->kind == RequestKind::kAttention;
          });
          if (!known) {
            r->cancelled = true;
            if (r->note.empty()) r->note = kUnknownAckNote;
          }
          while (!c.open.empty()) {
            Request* q = c.open.front();
            const bool attention = q->kind == RequestKind::kAttention;
            if (!attention) q->cancelled = true;
            q->hasFinalStatus = true;
            q->finalStatus = status;
            Complete(c, q, m);
            if (attention || !known) break;
          }
        } else if (r->kind != RequestKind::kAttention) {
          r->hasFinalStatus = true;
          r->finalStatus = status;
          Complete(c, r, m);
        }
        break;
      }
      default:
        break;
    }
  }
  if (!m.last || c.open.empty() || m.cut == WalkedMessage::Cut::kEnd) return;
  if (m.cut == WalkedMessage::Cut::kLost) {
    // The rest of the answer is gone; the message is taken to end it, as a server answers a
    // request with one message.
    Request* r = c.open.front();
    if (r->note.empty()) r->note = m.cutReason ? m.cutReason : kLostNote;
    Complete(c, r, m);
  } else if (!m.walkedToEnd) {
    // Where the walk stopped, the rest of the answer is unknown; the same holds.
    Request* r = c.open.front();
    std::string note = "the answer could not be walked to its end";
    if (m.restReason && *m.restReason) note += std::string(" (") + m.restReason + ")";
    if (r->note.empty()) r->note = note;
    Complete(c, r, m);
  } else if (!c.completionLast) {
    // A server ends every message with a completion token; one that ends otherwise was not
    // framed as sent (a message whose start the capture lacks, an unknown byte order), and is
    // taken to end the answer too.
    Request* r = c.open.front();
    if (r->note.empty()) r->note = kNoCompletionNote;
    Complete(c, r, m);
  }
}

void RequestTracker::AddRows(Connection& c, Request& r, uint64_t count) {
  r.rowTokens += count;
  // Rows of a cursor fetch follow a format sent with an earlier answer.
  if (r.results.empty()) {
    r.results.emplace_back();
    r.results.back().columns = c.lastColumns;
  }
  r.results.back().rows += count;
}

void RequestTracker::Rows(const WalkedMessage& m, uint64_t count) {
  if (count == 0) return;
  Connection& c = ConnectionOf(m.conn);
  c.completionLast = false;
  Request* r = c.open.empty() ? Orphan(c, m) : c.open.front();
  AddRows(c, *r, count);
}

void RequestTracker::RepeatRowFormat(const WalkedMessage& m) {
  Connection& c = ConnectionOf(m.conn);
  c.completionLast = false;
  Request* r = c.open.empty() ? Orphan(c, m) : c.open.front();
  r->results.emplace_back();
  r->results.back().columns = c.lastColumns;
}

void RequestTracker::Complete(Connection& c, Request* r, const WalkedMessage& m) {
  r->complete = true;
  r->endFrame = m.lastFrame;
  r->endUs = m.lastUs;
  auto at = std::find(c.open.begin(), c.open.end(), r);
  if (at != c.open.end()) c.open.erase(at);
  r->held = r == c.last;
}

void RequestTracker::Lost(uint32_t conn, bool clientToServer) {
  if (clientToServer) return;  // an answer without its request shows as one
  Connection& c = ConnectionOf(conn);
  for (Request* r : c.open)
    if (r->note.empty()) r->note = kLostNote;
}

void RequestTracker::EndConnection(Connection& c) {
  for (Request* r : c.open) {
    r->complete = true;
    r->unanswered = true;
  }
  c.open.clear();
  if (c.last) c.last->held = false;
  c.last = nullptr;
}

void RequestTracker::ConnectionEnded(uint32_t conn) {
  auto found = m_connections.find(conn);
  if (found == m_connections.end()) return;
  EndConnection(found->second);
  m_connections.erase(found);
  Flush();
}

void RequestTracker::Finish() {
  std::vector<uint32_t> conns;
  conns.reserve(m_connections.size());
  for (const auto& entry : m_connections) conns.push_back(entry.first);
  std::sort(conns.begin(), conns.end());
  for (uint32_t conn : conns) EndConnection(m_connections[conn]);
  m_connections.clear();
  Flush();
  m_sink.Finish();
}

void RequestTracker::Detach(const Request* r) {
  auto found = m_connections.find(r->conn);
  if (found == m_connections.end()) return;
  Connection& c = found->second;
  auto at = std::find(c.open.begin(), c.open.end(), r);
  if (at != c.open.end()) c.open.erase(at);
  if (c.last == r) c.last = nullptr;
}

void RequestTracker::Flush() {
  while (!m_queue.empty()) {
    Request& r = *m_queue.front();
    if (!r.complete || r.held) {
      if (m_queue.size() <= m_maxWaiting) return;
      Detach(&r);
      if (!r.complete && r.note.empty()) r.note = kForcedNote;
      r.held = false;
    }
    m_sink.Write(r);
    if (m_spare.size() < kSpareRequests) m_spare.push_back(std::move(m_queue.front()));
    m_queue.pop_front();
  }
}
