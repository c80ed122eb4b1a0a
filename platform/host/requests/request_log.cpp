#include "requests/request_log.h"

#include <algorithm>
#include <cstring>

#include "requests/request_pack.h"
#include "streams/tds_header.h"
#include "tdsengine/field_value.h"
#include "tdswire/tokens.h"
#include "tdswire/values.h"

namespace {

// DYNAMIC types.
constexpr uint64_t kDynamicDeallocate = 0x04;
constexpr uint64_t kDynamicDescribeInput = 0x40;
constexpr uint64_t kDynamicDescribeOutput = 0x80;

// Parameter names kept per connection for dynamic statements, and cursor names by id.
constexpr size_t kMaxStatements = 64;
constexpr size_t kMaxCursorNames = 4096;

constexpr int32_t kLoginAckAccepted = 5;
constexpr int32_t kLoginAckRefused = 6;
constexpr uint64_t kLoginAckSecurity = 0x80;
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

// What the server described of a dynamic statement, by statement id, oldest first: the latest
// description of an id replaces the one before, and past kMaxStatements the oldest goes.
template <typename T>
using ById = std::vector<std::pair<std::string, std::shared_ptr<const T>>>;

template <typename T>
void Forget(ById<T>& kept, const std::string& id) {
  for (auto at = kept.begin(); at != kept.end(); ++at) {
    if (at->first != id) continue;
    kept.erase(at);
    return;
  }
}

template <typename T>
void Remember(ById<T>& kept, const std::string& id, std::shared_ptr<const T> what) {
  Forget(kept, id);
  if (kept.size() >= kMaxStatements) kept.erase(kept.begin());
  kept.emplace_back(id, std::move(what));
}

template <typename T>
std::shared_ptr<const T> Recall(const ById<T>& kept, const std::string& id) {
  for (const auto& entry : kept)
    if (entry.first == id) return entry.second;
  return nullptr;
}

// The fields of one token record.
class Fields {
 public:
  Fields(const DisplayTree& tree, const PacketRecord& p)
      : m_tree(tree), m_begin(tree.fields().data() + p.firstField), m_end(m_begin + p.fieldCount) {}
  const DisplayTree& tree() const { return m_tree; }
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
  const DisplayTree& m_tree;
  const FieldRecord* m_begin;
  const FieldRecord* m_end;
};

inline bool Is(const FieldRecord& f, const char* label) {
  return f.label[0] == label[0] && std::strcmp(f.label, label) == 0;
}

// Bytes read as ISO-8859-1, in UTF-8: runs of ASCII are appended as they are.
std::string Latin1(const uint8_t* bytes, size_t size) {
  std::string s;
  s.reserve(size);
  size_t i = 0;
  while (i < size) {
    size_t end = i;
    while (end < size && bytes[end] < 0x80) ++end;
    s.append(reinterpret_cast<const char*>(bytes + i), end - i);
    if (end == size) break;
    const uint8_t c = bytes[end];
    const char pair[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    s.append(pair, 2);
    i = end + 1;
  }
  return s;
}

// A text field as people read it, in UTF-8: the text the walk decoded from the connection's
// character set when it attached one, else the field's bytes as ISO-8859-1.
std::string Text(const DisplayTree& tree, const FieldRecord* f) {
  if (!f) return std::string();
  if (f->textBegin >= 0) {
    const std::string& texts = tree.texts();
    const size_t begin = static_cast<size_t>(f->textBegin);
    if (begin <= texts.size()) return texts.substr(begin, static_cast<size_t>(f->textSize));
  }
  return f->size > 0 ? Latin1(f->data, static_cast<size_t>(f->size)) : std::string();
}

std::string Text(const Fields& fs, const char* label) {
  return Text(fs.tree(), fs.Find(label));
}

// Fixed-size names and strings are padded with zeros or blanks.
std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s;
}

// A name of the login record: its fixed-size field, cut to the length that follows it.
std::string RecordName(const Fields& fs, const char* label, const char* lengthLabel) {
  const FieldRecord* name = fs.Find(label);
  if (!name || name->size <= 0) return std::string();
  size_t n = static_cast<size_t>(name->size);
  if (const FieldRecord* length = fs.Find(lengthLabel))
    n = std::min<size_t>(n, static_cast<size_t>(FieldUnsigned(*length)));
  return Latin1(name->data, n);
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

// The values of a data token (ROW, PARAMS, KEY, RETURNVALUE, and the parameters of an RPC
// record), copied into the request.
void KeepValues(Request& r, const DisplayTree& tree, const PacketRecord& p,
                std::vector<uint32_t>& into) {
  const ValueRecord* values = tree.values().data() + p.firstValue;
  for (uint32_t i = 0; i < p.valueCount; ++i) into.push_back(r.values.Add(tree, values[i]));
}

// The columns of a row format (ROWFMT, ROWFMT2): each entry begins with the length of its first
// name; the name shown is the label, else the column name; the SQL type comes from the datatype,
// its maximum length and the user type, as the values' types do.
void ReadColumns(const Fields& fs, bool wide, ResultColumns& out) {
  out.clear();
  const char* const first = wide ? "Label length" : "Column name length";
  WireColumn column;
  bool typed = false;
  auto close = [&]() {
    if (!out.empty() && typed) out.back().type = SqlTypeName(column);
    column = WireColumn();
    typed = false;
  };
  for (const FieldRecord& f : fs) {
    if (Is(f, first)) {
      close();
      out.emplace_back();
    } else if (out.empty()) {
      continue;
    } else if (Is(f, "Label") || (Is(f, "Column name") && out.back().name.empty())) {
      out.back().name = Text(fs.tree(), &f);
    } else if (Is(f, "User Type")) {
      column.userType = static_cast<int32_t>(FieldSigned(f));
    } else if (Is(f, "Data Type")) {
      column.type = static_cast<uint8_t>(FieldUnsigned(f));
      typed = true;
    } else if (Is(f, "Length of data type") && column.maxLength == 0) {
      column.maxLength = static_cast<uint32_t>(FieldUnsigned(f));
    }
  }
  close();
}

// The names of a parameter format's entries, in order ("" for a parameter without one).
std::vector<std::string> ParamNames(const Fields& fs) {
  std::vector<std::string> names;
  for (const FieldRecord& f : fs) {
    if (Is(f, "Param Name Length"))
      names.emplace_back();
    else if (Is(f, "Param Name") && !names.empty())
      names.back() = Text(fs.tree(), &f);
  }
  return names;
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
  m.token = token == kTokenError  ? ServerMessage::Token::kError
            : token == kTokenInfo ? ServerMessage::Token::kInfo
                                  : ServerMessage::Token::kEed;
  const char* const* labels = kLabels[static_cast<int>(m.token)];
  // The EED number is unsigned; the others are signed.
  const FieldRecord* number = fs.Find(labels[0]);
  m.number = token == kTokenEed ? static_cast<int64_t>(Unsigned(number)) : Signed(number);
  m.state = static_cast<int32_t>(Unsigned(fs.Find(labels[1])));
  m.severity = static_cast<int32_t>(Unsigned(fs.Find(labels[2])));
  const FieldRecord* text = fs.After("Message Length");
  if (text && !Is(*text, "Server name length")) m.text = Text(fs.tree(), text);
  return m;
}

// The cursor a command names: by its name (id 0), else by the id the server gave it (names:
// the connection's, null when it has none).
template <typename Statements>
std::string CursorName(const Fields& fs, const Statements* names) {
  const FieldRecord* name = fs.Find("Cursor Name");
  if (name) return Trimmed(Text(fs.tree(), name));
  const FieldRecord* id = fs.Find("Cursor ID");
  if (!id) return std::string();
  const uint32_t n = static_cast<uint32_t>(FieldUnsigned(*id));
  if (names) {
    auto found = names->cursorNames.find(n);
    if (found != names->cursorNames.end()) return found->second;
  }
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
    case 0x10:
      return "procedure";
    default:
      return "dynamic";
  }
}

// The argument of an option command as it reads: its table text, its note (true or false),
// its characters or its number.
std::string OptionArgument(const DisplayTree& tree, const FieldRecord* f) {
  if (!f) return std::string();
  if (f->table && f->rows > 0) return TableText(f);
  if (f->format == FF_STRING) return Text(tree, f);
  if (f->note && (std::strcmp(f->note, "True") == 0 || std::strcmp(f->note, "False") == 0))
    return f->note;
  return std::to_string(FieldUnsigned(*f));
}

void Join(std::string& text, const std::string& more, const char* separator = " ") {
  if (more.empty()) return;
  if (!text.empty()) text += separator;
  text += more;
}

// An option command as it reads: "Set an option: <option> <argument>".
std::string OptionText(const Fields& fs) {
  std::string text =
      std::string(TableText(fs.Find("Command"))) + ": " + TableText(fs.Find("Option"));
  const FieldRecord* argument = fs.Find("Argument");
  if (!argument) argument = fs.Find("Row Count");
  Join(text, OptionArgument(fs.tree(), argument));
  return text;
}

}  // namespace

// Complete requests waiting behind another stay whole up to wholeWaiting (256 unless told):
// a request whole is several times its packed size, a packed one costs its packing and
// unpacking.
RequestTracker::RequestTracker(RequestOutput& sink, size_t maxWaiting, size_t wholeWaiting)
    : m_sink(sink), m_maxWaiting(maxWaiting ? maxWaiting : 1), m_wholeWaiting(wholeWaiting) {}

RequestTracker::~RequestTracker() {
  m_connections.ForEach([](Connection* c) { delete c; });
}

RequestTracker::Connection& RequestTracker::ConnectionOf(uint32_t conn) {
  Connection* c = m_connections.Find(conn);
  if (!c) {
    c = new Connection(conn);
    c->info = std::make_shared<ConnectionInfo>();
    c->info->conn = conn;
    m_connections.Insert(c);
  }
  return *c;
}

RequestTracker::Statements& RequestTracker::StatementsOf(Connection& c) {
  if (!c.statements) c.statements.reset(new Statements);
  return *c.statements;
}

void RequestTracker::ForgetFraming() {
  m_connections.ForEach([](Connection* c) { c->framing = Framing(); });
}

void RequestTracker::ConnectionOpened(uint32_t conn, std::string_view client,
                                      std::string_view server) {
  Connection& c = ConnectionOf(conn);
  c.info->SetEnds(client, server);
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

uint64_t RequestTracker::Queued::firstFrame() const {
  return whole ? whole->firstFrame : packed->firstFrame;
}

std::unique_ptr<Request> RequestTracker::SpareRequest() {
  if (m_spare.empty()) return std::unique_ptr<Request>(new Request);
  std::unique_ptr<Request> r = std::move(m_spare.back());
  m_spare.pop_back();
  r->Reset();
  return r;
}

Request* RequestTracker::NewRequest(Connection& c, const WalkedMessage& m) {
  std::unique_ptr<Request> r = SpareRequest();
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
  while (at != m_queue.begin() && (at - 1)->firstFrame() > r->firstFrame) --at;
  if (m_hook) m_hook->Queued(*r);
  Queued q;
  q.whole = std::move(r);
  m_queue.insert(at, std::move(q));
}

std::deque<RequestTracker::Queued>::iterator RequestTracker::Find(uint64_t firstFrame,
                                                                  const void* identity) {
  // A request mostly completes soon after it was sent, near the back of the queue.
  size_t looked = 0;
  for (auto at = m_queue.end(); at != m_queue.begin() && looked < 16; ++looked) {
    --at;
    if (at->whole.get() == identity || at->packed.get() == identity) return at;
  }
  auto at =
      std::lower_bound(m_queue.begin(), m_queue.end(), firstFrame,
                       [](const Queued& q, uint64_t frame) { return q.firstFrame() < frame; });
  for (; at != m_queue.end() && at->firstFrame() == firstFrame; ++at)
    if (at->whole.get() == identity || at->packed.get() == identity) return at;
  return m_queue.end();
}

void RequestTracker::PackWaiting(Connection& c, Request* r) {
  // The request at the front is written as soon as it may be; one behind waits.
  if (!r->held || m_queue.size() - m_packed <= m_wholeWaiting || m_queue.front().whole.get() == r)
    return;
  auto at = Find(r->firstFrame, r);
  if (at == m_queue.end()) return;
  at->packed = Pack(*r, true);
  ++m_packed;
  if (c.last == r) {
    c.last = nullptr;
    c.lastPacked = at->packed.get();
  }
  if (m_spare.size() < kSpareRequests) m_spare.push_back(std::move(at->whole));
  at->whole.reset();
}

Request* RequestTracker::UnpackLast(Connection& c) {
  Packed* p = c.lastPacked;
  c.lastPacked = nullptr;
  if (!p) return c.last;
  auto at = Find(p->firstFrame, p);
  if (at == m_queue.end()) return nullptr;
  std::unique_ptr<Request> r = SpareRequest();
  Unpack(*p, *r);
  at->packed.reset();
  --m_packed;
  at->whole = std::move(r);
  c.last = at->whole.get();
  return c.last;
}

void RequestTracker::ReleaseLast(Connection& c, bool cancelled, bool connectionEnds) {
  if (c.lastPacked && c.lastPacked->loginFromConnection && !connectionEnds) {
    // A later login may change what the connection shows: the names go back into the request.
    auto at = Find(c.lastPacked->firstFrame, c.lastPacked);
    if (at != m_queue.end()) {
      std::unique_ptr<Request> r = SpareRequest();
      Unpack(*at->packed, *r);
      at->packed = Pack(*r, false);
      c.lastPacked = at->packed.get();
      if (m_spare.size() < kSpareRequests) m_spare.push_back(std::move(r));
    }
  }
  if (c.last) {
    if (cancelled) c.last->cancelled = true;
    c.last->held = false;
  }
  if (c.lastPacked) {
    if (cancelled) c.lastPacked->cancelled = true;
    c.lastPacked->held = false;
  }
  c.last = nullptr;
  c.lastPacked = nullptr;
}

void RequestTracker::ClientMessage(Connection& c, const WalkedMessage& m) {
  const DisplayTree& tree = *m.tree;
  const std::vector<PacketRecord>& records = tree.packets();
  const bool continued = m.part > 1;
  // A client may send its attention again while waiting for the acknowledgement; the server
  // acknowledges it once.
  if (m.type == kTdsAttentionType && !continued &&
      std::any_of(c.open.begin(), c.open.end(),
                  [](const Request* q) { return q->kind == RequestKind::kAttention; }))
    return;
  // A later part adds to the request its first part began, unless that was written already
  // (forced out).
  Request* r = continued ? UnpackLast(c) : NewRequest(c, m);
  if (!r) return;
  if (continued) {
    r->lastFrame = m.lastFrame;
    if (m.cut != WalkedMessage::Cut::kNone && m.cutReason && r->note.empty()) r->note = m.cutReason;
  }

  if (m.type == kTdsAttentionType) {
    r->kind = RequestKind::kAttention;
    // The attention cancels the request whose answer the client was reading.
    ReleaseLast(c, true);
    c.open.push_back(r);
    return;
  }
  if (!continued) {
    ReleaseLast(c, false);
    c.last = r;
    c.open.push_back(r);
    if (m.cut != WalkedMessage::Cut::kNone && m.cutReason) r->note = m.cutReason;
  }

  switch (m.type) {
    case kTdsLoginType: {
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
      c.info->SetLogin(login.user, login.host, login.application);
      r->text = login.application;
      Join(r->text, login.library, ", ");
      Join(r->text, login.libraryVersion);
      if (!login.packetSize.empty()) Join(r->text, "packet size " + login.packetSize, ", ");
      return;
    }
    case kTdsLanguageType:
      r->kind = RequestKind::kLanguage;
      if (!records.empty()) r->text = Text(Fields(tree, records.front()), "Message Data");
      return;
    case kTdsRpcType:
      r->kind = RequestKind::kRpc;
      return;
    case kTdsBulkType:
      r->kind = RequestKind::kBulk;
      r->text = std::to_string(m.bytes) + " bytes of rows";
      return;
    case kTdsLogoutType:
      r->kind = RequestKind::kLogout;
      return;
    default:
      break;
  }

  // A token stream: the kind and the text come from the first token; parameters from the
  // PARAMS after it (the values carry their names and types), a cursor's key from KEY. Further
  // commands in the message (a cursor declared, given its rows per fetch and opened at once)
  // are part of the same request.
  int32_t formatCount = 0;
  bool first = !continued;
  if (first && c.statements) c.statements->namedCursor.clear();
  for (const PacketRecord& p : records) {
    if (p.token < 0) continue;
    const Fields fs(tree, p);
    if (!first) {
      switch (p.token) {
        case kTokenParamFmt:
        case kTokenParamFmt2:
          formatCount += static_cast<int32_t>(Unsigned(fs.Find("No. of Params")));
          break;
        case kTokenParams:
          KeepValues(*r, tree, p, r->params);
          break;
        case kTokenKey:
          KeepValues(*r, tree, p, r->key);
          break;
        case kTokenOptionCmd:
          // Options set together in one message.
          if (r->kind == RequestKind::kOption) Join(r->text, OptionText(fs), "; ");
          break;
        default:
          break;
      }
      continue;
    }
    first = false;
    switch (p.token) {
      case kTokenLanguage:
        r->kind = RequestKind::kLanguage;
        r->text = Text(fs, "Language text");
        break;
      case kTokenRpc:
        r->kind = RequestKind::kRpc;
        r->name = r->text = Text(fs, "RPC Name");
        KeepValues(*r, tree, p, r->params);  // its parameters are inline
        break;
      case kTokenDbRpc:
      case kTokenDbRpc2:
        r->kind = RequestKind::kDbRpc;
        r->name = r->text = Text(fs, "RPC Name");
        break;
      case kTokenDynamic:
      case kTokenDynamic2: {
        r->kind = RequestKind::kDynamic;
        r->name = Text(fs, "Id");
        const uint64_t type = Unsigned(fs.Find("Type"));
        r->text = DynamicWord(type);
        Join(r->text, r->name);
        const std::string statement = Text(fs, "Statement");
        if (!statement.empty()) r->text += ": " + statement;
        if (!c.statements) break;
        Statements& s = *c.statements;
        if (auto names = Recall(s.statements, r->name)) r->paramNames = names;
        if (type == kDynamicDeallocate) {
          Forget(s.statements, r->name);
          Forget(s.outputs, r->name);
        }
        break;
      }
      case kTokenCurDeclare:
      case kTokenCurDeclare2:
      case kTokenCurDeclare3:
        r->kind = RequestKind::kCursorDeclare;
        r->name = Trimmed(Text(fs, "Cursor Name"));
        r->text = r->name + ": " + Text(fs, "Statement");
        StatementsOf(c).namedCursor = r->name;
        break;
      case kTokenCurOpen:
        r->kind = RequestKind::kCursorOpen;
        r->name = r->text = CursorName(fs, c.statements.get());
        break;
      case kTokenCurFetch: {
        r->kind = RequestKind::kCursorFetch;
        r->name = r->text = CursorName(fs, c.statements.get());
        Join(r->text, FetchWord(Unsigned(fs.Find("Cursor fetch type"))));
        if (const FieldRecord* row = fs.Find("Row number"))
          Join(r->text, std::to_string(Signed(row)));
        break;
      }
      case kTokenCurInfo:
      case kTokenCurInfo2:
      case kTokenCurInfo3:
        r->kind = RequestKind::kCursorInfo;
        r->name = r->text = CursorName(fs, c.statements.get());
        Join(r->text, TableText(fs.Find("Command")), ": ");
        if (const FieldRecord* count = fs.Find("Row count"))
          Join(r->text, std::to_string(Signed(count)));
        break;
      case kTokenCurClose:
        r->kind = RequestKind::kCursorClose;
        r->name = r->text = CursorName(fs, c.statements.get());
        if (Unsigned(fs.Find("Options")) == 1) {
          Join(r->text, "deallocate");
          if (!fs.Find("Cursor Name"))
            if (c.statements)
              c.statements->cursorNames.erase(
                  static_cast<uint32_t>(Unsigned(fs.Find("Cursor ID"))));
        }
        break;
      case kTokenCurDelete:
        r->kind = RequestKind::kCursorDelete;
        r->name = r->text = CursorName(fs, c.statements.get());
        Join(r->text, Text(fs, "Table name"));
        break;
      case kTokenCurUpdate: {
        r->kind = RequestKind::kCursorUpdate;
        r->name = r->text = CursorName(fs, c.statements.get());
        Join(r->text, Text(fs, "Table name"));
        const std::string statement = Text(fs, "Statement");
        if (!statement.empty()) r->text += ": " + statement;
        break;
      }
      case kTokenOptionCmd:
        r->kind = RequestKind::kOption;
        r->name = TableText(fs.Find("Option"));
        r->text = OptionText(fs);
        break;
      case kTokenLogout:
        r->kind = RequestKind::kLogout;
        break;
      default:
        r->kind = RequestKind::kOther;
        r->text = p.shortName ? p.shortName : "";
        break;
    }
    // A cursor named rather than numbered learns its id from the answer.
    if (r->kind >= RequestKind::kCursorDeclare && r->kind <= RequestKind::kCursorUpdate &&
        fs.Find("Cursor Name"))
      StatementsOf(c).namedCursor = r->name;
  }
  if (first) r->text = "message type " + std::to_string(m.type);
  r->paramCount = std::max(r->paramCount + formatCount, static_cast<int32_t>(r->params.size()));
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
    c.completionLast =
        p.token == kTokenDone || p.token == kTokenDoneProc || p.token == kTokenDoneInProc;
    switch (p.token) {
      case kTokenRowFmt:
      case kTokenRowFmt2: {
        std::shared_ptr<ResultColumns> columns = std::make_shared<ResultColumns>();
        ReadColumns(fs, p.token == kTokenRowFmt2, *columns);
        Statements& s = StatementsOf(c);
        s.lastColumns = std::move(columns);
        // A prepared statement's description of its rows is no result; its executions that
        // leave the row format out send rows under it.
        if (s.describingOutput) {
          s.describingOutput = false;
          Remember(s.outputs, s.describing, s.lastColumns);
          s.describing.clear();
          break;
        }
        r->results.emplace_back();
        r->results.back().columns = s.lastColumns;
        r->results.back().dataKept = m_rowsKept > 0;
        break;
      }
      case kTokenRow:
        AddRows(c, *r, 1);
        KeepRow(*r, tree, p);
        break;
      case kTokenDynamic:
      case kTokenDynamic2: {
        // An input description: the parameter format that follows names the parameters. An
        // output description: the row format that follows describes the statement's rows.
        const uint64_t type = Unsigned(fs.Find("Type"));
        if (!c.statements && type != kDynamicDescribeInput && type != kDynamicDescribeOutput) break;
        Statements& s = StatementsOf(c);
        s.describing = Text(fs, "Id");
        s.describingOutput = type == kDynamicDescribeOutput;
        if (!s.describingOutput && type != kDynamicDescribeInput) s.describing.clear();
        break;
      }
      case kTokenParamFmt:
      case kTokenParamFmt2:
        if (c.statements && !c.statements->describing.empty() && !c.statements->describingOutput) {
          Statements& s = *c.statements;
          Remember(s.statements, s.describing,
                   std::make_shared<const std::vector<std::string>>(ParamNames(fs)));
          s.describing.clear();
        }
        break;
      case kTokenParams:
      case kTokenReturnValue:
        KeepValues(*r, tree, p, r->output);
        break;
      case kTokenReturnStatus:
        // Read in a byte order nothing has decided yet, the value would be a guess.
        if (m.order == kWalkOrderNone) break;
        r->hasReturnStatus = true;
        r->returnStatus = static_cast<int32_t>(Signed(fs.Find("Value")));
        break;
      case kTokenError:
      case kTokenInfo:
      case kTokenEed: {
        ::ServerMessage message = ReadServerMessage(fs, p.token);
        const bool error = p.token == kTokenError ||
                           (p.token == kTokenEed && message.severity > kMaxInformationalClass);
        (error ? r->errors : r->messages).push_back(std::move(message));
        break;
      }
      case kTokenLoginAck:
        if (r->login) {
          // 0x80 added: a security session is acknowledged as well.
          const uint64_t status = Unsigned(fs.Find("Status")) & ~kLoginAckSecurity;
          r->login->accepted = status == kLoginAckAccepted  ? 1
                               : status == kLoginAckRefused ? 0
                                                            : r->login->accepted;
        }
        break;
      case kTokenCurInfo:
      case kTokenCurInfo2:
      case kTokenCurInfo3: {
        // The answer to a command that named a cursor tells the cursor's id.
        const uint32_t n = static_cast<uint32_t>(Unsigned(fs.Find("Cursor ID")));
        if (n == 0 || !c.statements || c.statements->namedCursor.empty()) break;
        Statements& s = *c.statements;
        if (s.cursorNames.size() < kMaxCursorNames || s.cursorNames.count(n))
          s.cursorNames[n] = s.namedCursor;
        break;
      }
      case kTokenDone:
      case kTokenDoneProc:
      case kTokenDoneInProc: {
        const uint16_t status = static_cast<uint16_t>(Unsigned(fs.Find("Status")));
        // A count is valid only with its bit set; the rows of a stretch whose completion
        // carries none are the ROW tokens sent in it.
        const FieldRecord* count = status & kDoneCount ? fs.Find("Row Count") : nullptr;
        if (count) r->countValid = true;
        r->countedRows += count ? Signed(count) : static_cast<int64_t>(c.rowsSinceDone);
        c.rowsSinceDone = 0;
        if (p.token == kTokenDoneInProc) break;
        if (!(status & kDoneAttention)) {
          // The answer ends with the message whose last DONE or DONEPROC says no more follows.
          c.answerEnds = !(status & kDoneMore) && r->kind != RequestKind::kAttention;
          c.endStatus = status;
          break;
        }
        if (status & kDoneMore) break;
        // An acknowledgement: everything up to the attention it acknowledges is over.
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
        c.answerEnds = false;
        break;
      }
      default:
        break;
    }
  }
  if (m.last && c.statements) {
    c.statements->describing.clear();
    c.statements->describingOutput = false;
  }
  if (m.last && c.answerEnds && !c.open.empty()) {
    c.answerEnds = false;
    Request* r = c.open.front();
    r->hasFinalStatus = true;
    r->finalStatus = c.endStatus;
    Complete(c, r, m);
    return;
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
  c.rowsSinceDone += count;
  // Rows of a cursor fetch follow a format sent with an earlier answer; those of a prepared
  // statement executed without one, the description of its rows.
  if (r.results.empty()) {
    r.results.emplace_back();
    if (c.statements) {
      std::shared_ptr<const ResultColumns> described;
      if (r.kind == RequestKind::kDynamic) described = Recall(c.statements->outputs, r.name);
      r.results.back().columns = described ? described : c.statements->lastColumns;
    }
    r.results.back().dataKept = m_rowsKept > 0;
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

void RequestTracker::KeepRow(Request& r, const DisplayTree& tree, const PacketRecord& p) {
  ResultSet& set = r.results.back();
  if (!set.dataKept || set.data.size() >= m_rowsKept || r.values.textBytes() > kMaxKeptTextBytes)
    return;
  ValueRange row;
  row.first = static_cast<uint32_t>(r.values.size());
  row.count = p.valueCount;
  const ValueRecord* values = tree.values().data() + p.firstValue;
  for (uint32_t i = 0; i < p.valueCount; ++i) r.values.Add(tree, values[i]);
  set.data.push_back(row);
}

void RequestTracker::KeepRows(size_t rows) {
  m_rowsKept = std::min(rows, kMaxRowsKept);
}

size_t RequestTracker::RowsWanted(uint32_t conn) const {
  if (m_rowsKept == 0) return 0;
  const Connection* c = m_connections.Find(conn);
  if (!c || c->open.empty()) return m_rowsKept;
  const Request& r = *c->open.front();
  if (r.results.empty()) return m_rowsKept;
  const uint64_t rows = r.results.back().rows;
  return rows < m_rowsKept ? m_rowsKept - static_cast<size_t>(rows) : 0;
}

void RequestTracker::Complete(Connection& c, Request* r, const WalkedMessage& m) {
  // Rows after the last completion token (an answer cut short) count too.
  if (r == c.open.front()) {
    r->countedRows += static_cast<int64_t>(c.rowsSinceDone);
    c.rowsSinceDone = 0;
  }
  r->complete = true;
  r->endFrame = m.lastFrame;
  r->endUs = m.lastUs;
  auto at = std::find(c.open.begin(), c.open.end(), r);
  if (at != c.open.end()) c.open.erase(at);
  r->held = r == c.last;
  PackWaiting(c, r);
}

void RequestTracker::InputWaits() {
  // The answers read so far are out: an attention that comes later no longer reaches them.
  m_connections.ForEach([this](Connection* c) {
    if (c->lastPacked || (c->last && c->last->complete)) ReleaseLast(*c, false);
  });
  Flush();
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
  ReleaseLast(c, false, true);
}

void RequestTracker::ConnectionEnded(uint32_t conn) {
  Connection* c = m_connections.Find(conn);
  if (!c) return;
  EndConnection(*c);
  m_connections.Erase(c);
  delete c;
  Flush();
}

void RequestTracker::Finish() {
  std::vector<Connection*> conns;
  conns.reserve(m_connections.size());
  m_connections.ForEach([&conns](Connection* c) { conns.push_back(c); });
  std::sort(conns.begin(), conns.end(),
            [](const Connection* x, const Connection* y) { return x->conn < y->conn; });
  for (Connection* c : conns) EndConnection(*c);
  m_connections.Clear();
  for (Connection* c : conns) delete c;
  Flush();
  m_sink.Finish();
}

void RequestTracker::Detach(uint32_t conn, const void* identity) {
  Connection* found = m_connections.Find(conn);
  if (!found) return;
  Connection& c = *found;
  auto at = std::find(c.open.begin(), c.open.end(), identity);
  if (at != c.open.end()) c.open.erase(at);
  if (c.last == identity) c.last = nullptr;
  if (c.lastPacked == identity) c.lastPacked = nullptr;
}

void RequestTracker::Flush() {
  while (!m_queue.empty()) {
    Queued& q = m_queue.front();
    const bool complete = q.whole ? q.whole->complete : q.packed->complete;
    const bool held = q.whole ? q.whole->held : q.packed->held;
    if (!complete || held) {
      if (m_queue.size() <= m_maxWaiting) return;
      if (q.whole)
        Detach(q.whole->conn, q.whole.get());
      else
        Detach(q.packed->conn, q.packed.get());
    }
    if (q.packed) {
      q.whole = SpareRequest();
      Unpack(*q.packed, *q.whole);
      q.packed.reset();
      --m_packed;
    }
    Request& r = *q.whole;
    if (!complete || held) {
      if (!r.complete && r.note.empty()) r.note = kForcedNote;
      r.held = false;
    }
    m_sink.Write(r);
    if (m_spare.size() < kSpareRequests) m_spare.push_back(std::move(q.whole));
    m_queue.pop_front();
  }
}
