#include "requests/request_pack.h"

#include <cstring>
#include <string>
#include <vector>

void RequestTracker::PackedDeleter::operator()(Packed* p) const {
  for (uint32_t i = 0; i < p->shared; ++i) p->slots()[i].~shared_ptr();
  p->~Packed();
  ::operator delete(p);
}

namespace {

uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
int64_t UnZigZag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

// Writes a request's fields as bytes, or with no output only counts them.
class PackWriter {
 public:
  explicit PackWriter(uint8_t* out) : m_out(out) {}
  size_t size() const { return m_size; }
  void Bytes(const void* data, size_t size) {
    if (m_out && size) std::memcpy(m_out + m_size, data, size);
    m_size += size;
  }
  template <typename T>
  void Pod(const T& v) {
    Bytes(&v, sizeof(v));
  }
  // Seven bits a byte, low first; the high bit says another byte follows.
  void Number(uint64_t v) {
    while (v >= 0x80) {
      const uint8_t b = static_cast<uint8_t>(v | 0x80);
      Pod(b);
      v >>= 7;
    }
    const uint8_t b = static_cast<uint8_t>(v);
    Pod(b);
  }
  void Signed(int64_t v) { Number(ZigZag(v)); }
  void Size(size_t n) { Number(n); }
  void Text(const std::string& s) {
    Size(s.size());
    Bytes(s.data(), s.size());
  }
  void Indexes(const std::vector<uint32_t>& v) {
    Size(v.size());
    for (uint32_t i : v) Number(i);
  }

 private:
  uint8_t* m_out;
  size_t m_size = 0;
};

class PackReader {
 public:
  explicit PackReader(const uint8_t* in) : m_in(in) {}
  template <typename T>
  void Pod(T& v) {
    std::memcpy(&v, m_in, sizeof(v));
    m_in += sizeof(v);
  }
  uint64_t Number() {
    uint64_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
      const uint8_t b = *m_in++;
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
  }
  int64_t Signed() { return UnZigZag(Number()); }
  size_t Size() { return static_cast<size_t>(Number()); }
  const uint8_t* Skip(size_t size) {
    const uint8_t* at = m_in;
    m_in += size;
    return at;
  }
  void Text(std::string& s) {
    const size_t n = Size();
    s.assign(reinterpret_cast<const char*>(Skip(n)), n);
  }
  void Indexes(std::vector<uint32_t>& v) {
    v.resize(Size());
    for (uint32_t& i : v) i = static_cast<uint32_t>(Number());
  }

 private:
  const uint8_t* m_in;
};

void WriteMessages(PackWriter& w, const std::vector<ServerMessage>& messages) {
  w.Size(messages.size());
  for (const ServerMessage& m : messages) {
    w.Pod(m.token);
    w.Signed(m.number);
    w.Signed(m.severity);
    w.Signed(m.state);
    w.Text(m.text);
  }
}

void ReadMessages(PackReader& in, std::vector<ServerMessage>& messages) {
  messages.resize(in.Size());
  for (ServerMessage& m : messages) {
    in.Pod(m.token);
    m.number = in.Signed();
    m.severity = static_cast<int32_t>(in.Signed());
    m.state = static_cast<int32_t>(in.Signed());
    in.Text(m.text);
  }
}

// The flags of a packed request, in one byte.
enum PackFlag : uint8_t {
  kPackCountValid = 1,
  kPackReturnStatus = 2,
  kPackFinalStatus = 4,
  kPackUnanswered = 8,
  kPackLogin = 16,
};

// Whether a login request's user, host and application are those its connection shows.
bool LoginAsConnection(const Request& r) {
  if (!r.login || !r.connection) return false;
  const LoginRecord& l = *r.login;
  const ConnectionInfo& c = *r.connection;
  return c.user() == l.user && c.host() == l.host && c.application() == l.application;
}

// The fields a packed request holds only when they are not empty or zero: a bit each in the
// number that precedes them.
enum PackField : uint32_t {
  kFieldName = 1u << 0,
  kFieldText = 1u << 1,
  kFieldParamCount = 1u << 2,
  kFieldValues = 1u << 3,
  kFieldParams = 1u << 4,
  kFieldKey = 1u << 5,
  kFieldResults = 1u << 6,
  kFieldRowTokens = 1u << 7,
  kFieldCountedRows = 1u << 8,
  kFieldReturnStatus = 1u << 9,
  kFieldOutput = 1u << 10,
  kFieldErrors = 1u << 11,
  kFieldMessages = 1u << 12,
  kFieldFinalStatus = 1u << 13,
  kFieldNote = 1u << 14,
  kFieldUser = 1u << 15,
  kFieldHost = 1u << 16,
  kFieldApplication = 1u << 17,
  kFieldLibrary = 1u << 18,
  kFieldLibraryVersion = 1u << 19,
  kFieldPacketSize = 1u << 20,
  kFieldByteOrder = 1u << 21,
};

uint32_t PresentFields(const Request& r, bool loginFromConnection) {
  uint32_t present = 0;
  const auto mark = [&present](uint32_t field, bool on) {
    if (on) present |= field;
  };
  mark(kFieldName, !r.name.empty());
  mark(kFieldText, !r.text.empty());
  mark(kFieldParamCount, r.paramCount != 0);
  mark(kFieldValues, r.values.size() != 0);
  mark(kFieldParams, !r.params.empty());
  mark(kFieldKey, !r.key.empty());
  mark(kFieldResults, !r.results.empty());
  mark(kFieldRowTokens, r.rowTokens != 0);
  mark(kFieldCountedRows, r.countedRows != 0);
  mark(kFieldReturnStatus, r.returnStatus != 0);
  mark(kFieldOutput, !r.output.empty());
  mark(kFieldErrors, !r.errors.empty());
  mark(kFieldMessages, !r.messages.empty());
  mark(kFieldFinalStatus, r.finalStatus != 0);
  mark(kFieldNote, !r.note.empty());
  if (r.login) {
    const LoginRecord& l = *r.login;
    mark(kFieldUser, !loginFromConnection && !l.user.empty());
    mark(kFieldHost, !loginFromConnection && !l.host.empty());
    mark(kFieldApplication, !loginFromConnection && !l.application.empty());
    mark(kFieldLibrary, !l.library.empty());
    mark(kFieldLibraryVersion, !l.libraryVersion.empty());
    mark(kFieldPacketSize, !l.packetSize.empty());
    mark(kFieldByteOrder, !l.byteOrder.empty());
  }
  return present;
}

// Everything of a request but its shared parts and the header's fields; `loginFromConnection`:
// the login's user, host and application left out.
void WriteRequest(PackWriter& w, const Request& r, bool loginFromConnection) {
  w.Pod(r.kind);
  uint8_t flags = 0;
  if (r.countValid) flags |= kPackCountValid;
  if (r.hasReturnStatus) flags |= kPackReturnStatus;
  if (r.hasFinalStatus) flags |= kPackFinalStatus;
  if (r.unanswered) flags |= kPackUnanswered;
  if (r.login) flags |= kPackLogin;
  w.Pod(flags);
  w.Signed(static_cast<int64_t>(r.lastFrame - r.firstFrame));
  w.Signed(static_cast<int64_t>(r.endFrame - r.firstFrame));
  w.Signed(r.timeUs);
  w.Signed(r.endUs - r.timeUs);
  const uint32_t present = PresentFields(r, loginFromConnection);
  w.Number(present);
  if (present & kFieldName) w.Text(r.name);
  if (present & kFieldText) w.Text(r.text);
  if (present & kFieldParamCount) w.Signed(r.paramCount);
  if (present & kFieldValues) {
    const DisplayTree& values = r.values.tree();
    w.Size(r.values.size());
    for (size_t i = 0; i < r.values.size(); ++i) {
      const ValueRecord& v = r.values[i];
      w.Pod(v.type);
      w.Pod(v.kind);
      w.Pod(v.flags);
      w.Size(v.nameSize);
      w.Bytes(values.texts().data() + v.nameBegin, v.nameSize);
      w.Size(v.textSize);
      w.Bytes(values.texts().data() + v.textBegin, v.textSize);
    }
  }
  if (present & kFieldParams) w.Indexes(r.params);
  if (present & kFieldKey) w.Indexes(r.key);
  if (present & kFieldResults) {
    w.Size(r.results.size());
    for (const ResultSet& set : r.results) {
      w.Number(set.rows);
      w.Pod(set.dataKept);
      w.Size(set.data.size());
      for (const ValueRange& row : set.data) {
        w.Number(row.first);
        w.Number(row.count);
      }
    }
  }
  if (present & kFieldRowTokens) w.Number(r.rowTokens);
  if (present & kFieldCountedRows) w.Signed(r.countedRows);
  if (present & kFieldReturnStatus) w.Signed(r.returnStatus);
  if (present & kFieldOutput) w.Indexes(r.output);
  if (present & kFieldErrors) WriteMessages(w, r.errors);
  if (present & kFieldMessages) WriteMessages(w, r.messages);
  if (present & kFieldFinalStatus) w.Number(r.finalStatus);
  if (present & kFieldNote) w.Text(r.note);
  if (r.login) {
    const LoginRecord& l = *r.login;
    if (present & kFieldUser) w.Text(l.user);
    if (present & kFieldHost) w.Text(l.host);
    if (present & kFieldApplication) w.Text(l.application);
    if (present & kFieldLibrary) w.Text(l.library);
    if (present & kFieldLibraryVersion) w.Text(l.libraryVersion);
    if (present & kFieldPacketSize) w.Text(l.packetSize);
    if (present & kFieldByteOrder) w.Text(l.byteOrder);
    w.Pod(l.accepted);
  }
}

// Into a request as Reset leaves it: the fields left out keep their empty or zero value.
void ReadRequest(PackReader& in, Request& r, bool loginFromConnection) {
  in.Pod(r.kind);
  uint8_t flags = 0;
  in.Pod(flags);
  r.countValid = flags & kPackCountValid;
  r.hasReturnStatus = flags & kPackReturnStatus;
  r.hasFinalStatus = flags & kPackFinalStatus;
  r.unanswered = flags & kPackUnanswered;
  r.lastFrame = r.firstFrame + static_cast<uint64_t>(in.Signed());
  r.endFrame = r.firstFrame + static_cast<uint64_t>(in.Signed());
  r.timeUs = in.Signed();
  r.endUs = r.timeUs + in.Signed();
  const uint32_t present = static_cast<uint32_t>(in.Number());
  if (present & kFieldName) in.Text(r.name);
  if (present & kFieldText) in.Text(r.text);
  if (present & kFieldParamCount) r.paramCount = static_cast<int32_t>(in.Signed());
  if (present & kFieldValues) {
    const size_t values = in.Size();
    for (size_t i = 0; i < values; ++i) {
      const char* type = nullptr;
      uint8_t kind = 0;
      uint8_t valueFlags = 0;
      in.Pod(type);
      in.Pod(kind);
      in.Pod(valueFlags);
      const size_t nameSize = in.Size();
      const char* name = reinterpret_cast<const char*>(in.Skip(nameSize));
      const size_t textSize = in.Size();
      const char* text = reinterpret_cast<const char*>(in.Skip(textSize));
      r.values.Add(name, nameSize, type, kind, valueFlags, text, textSize);
    }
  }
  if (present & kFieldParams) in.Indexes(r.params);
  if (present & kFieldKey) in.Indexes(r.key);
  if (present & kFieldResults) {
    r.results.resize(in.Size());
    for (ResultSet& set : r.results) {
      set.rows = in.Number();
      in.Pod(set.dataKept);
      set.data.resize(in.Size());
      for (ValueRange& row : set.data) {
        row.first = static_cast<uint32_t>(in.Number());
        row.count = static_cast<uint32_t>(in.Number());
      }
    }
  }
  if (present & kFieldRowTokens) r.rowTokens = in.Number();
  if (present & kFieldCountedRows) r.countedRows = in.Signed();
  if (present & kFieldReturnStatus) r.returnStatus = static_cast<int32_t>(in.Signed());
  if (present & kFieldOutput) in.Indexes(r.output);
  if (present & kFieldErrors) ReadMessages(in, r.errors);
  if (present & kFieldMessages) ReadMessages(in, r.messages);
  if (present & kFieldFinalStatus) r.finalStatus = static_cast<uint16_t>(in.Number());
  if (present & kFieldNote) in.Text(r.note);
  if (flags & kPackLogin) {
    r.login.reset(new LoginRecord);
    LoginRecord& l = *r.login;
    if (loginFromConnection) {
      const ConnectionInfo& c = *r.connection;
      l.user.assign(c.user().data(), c.user().size());
      l.host.assign(c.host().data(), c.host().size());
      l.application.assign(c.application().data(), c.application().size());
    }
    if (present & kFieldUser) in.Text(l.user);
    if (present & kFieldHost) in.Text(l.host);
    if (present & kFieldApplication) in.Text(l.application);
    if (present & kFieldLibrary) in.Text(l.library);
    if (present & kFieldLibraryVersion) in.Text(l.libraryVersion);
    if (present & kFieldPacketSize) in.Text(l.packetSize);
    if (present & kFieldByteOrder) in.Text(l.byteOrder);
    in.Pod(l.accepted);
  }
}

}  // namespace

RequestTracker::PackedPtr Pack(Request& r, bool dedupe) {
  using Packed = RequestTracker::Packed;
  const bool fromConnection = dedupe && LoginAsConnection(r);
  PackWriter count(nullptr);
  WriteRequest(count, r, fromConnection);
  const bool names = r.paramNames != nullptr;
  const uint32_t first = names ? 2 : 1;  // the slot of the first result set's columns
  const uint32_t shared = first + static_cast<uint32_t>(r.results.size());
  const size_t size = sizeof(Packed) + shared * sizeof(Packed::Slot) + count.size();
  Packed* p = new (::operator new(size)) Packed;
  p->firstFrame = r.firstFrame;
  p->conn = r.conn;
  p->bytes = static_cast<uint32_t>(count.size());
  p->complete = r.complete;
  p->held = r.held;
  p->cancelled = r.cancelled;
  p->paramNames = names;
  p->loginFromConnection = fromConnection;
  Packed::Slot* slots = p->slots();
  new (slots) Packed::Slot(std::move(r.connection));
  if (names) new (slots + 1) Packed::Slot(std::move(r.paramNames));
  for (size_t i = 0; i < r.results.size(); ++i)
    new (slots + first + i) Packed::Slot(std::move(r.results[i].columns));
  p->shared = shared;
  PackWriter write(p->data());
  WriteRequest(write, r, fromConnection);
  return RequestTracker::PackedPtr(p);
}

void Unpack(RequestTracker::Packed& p, Request& r) {
  r.conn = p.conn;
  r.firstFrame = p.firstFrame;
  r.complete = p.complete;
  r.held = p.held;
  r.cancelled = p.cancelled;
  auto* slots = p.slots();
  r.connection = std::static_pointer_cast<const ConnectionInfo>(std::move(slots[0]));
  PackReader in(p.data());
  ReadRequest(in, r, p.loginFromConnection);
  const uint32_t first = p.paramNames ? 2 : 1;
  if (p.paramNames)
    r.paramNames = std::static_pointer_cast<const std::vector<std::string>>(std::move(slots[1]));
  for (size_t i = 0; i < r.results.size(); ++i)
    r.results[i].columns =
        std::static_pointer_cast<const ResultColumns>(std::move(slots[first + i]));
}
