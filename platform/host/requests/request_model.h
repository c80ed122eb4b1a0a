// The request log's records: one client request with what the server answered to it, built by
// the request tracker from walked TDS messages and written by the request renderers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tdsengine/display_tree.h"

enum class RequestKind : uint8_t {
  kLogin,
  kLanguage,
  kRpc,
  kDbRpc,
  kDynamic,
  kCursorDeclare,
  kCursorOpen,
  kCursorFetch,
  kCursorInfo,
  kCursorClose,
  kCursorDelete,
  kCursorUpdate,
  kOption,
  kBulk,
  kLogout,
  kAttention,
  kOther,
};
constexpr int kRequestKindCount = 17;

// "login", "language", ..., "other": the kind as the log writes it.
const char* RequestKindName(RequestKind kind);

// Values of data tokens (parameters, output values, rows) as the message view shows them: name,
// SQL type, text, kind and flags, copied out of the walk that read them.
class ValueStore {
 public:
  // Copies a value of `from`; returns its index.
  uint32_t Add(const DisplayTree& from, const ValueRecord& value);
  // Adds a value from its parts (type: the plug-in's constant type name); returns its index.
  uint32_t Add(const char* name, size_t nameSize, const char* type, uint8_t kind, uint8_t flags,
               const char* text, size_t textSize);
  size_t size() const { return m_tree.values().size(); }
  const ValueRecord& operator[](size_t i) const { return m_tree.values()[i]; }
  std::string_view Name(const ValueRecord& v) const {
    return std::string_view(m_tree.texts()).substr(v.nameBegin, v.nameSize);
  }
  std::string_view Text(const ValueRecord& v) const {
    return std::string_view(m_tree.texts()).substr(v.textBegin, v.textSize);
  }
  // Bytes of names and texts held.
  size_t textBytes() const { return m_tree.texts().size(); }
  // The values as a display tree, for the engine's value renderers.
  const DisplayTree& tree() const { return m_tree; }
  void Clear() { m_tree = DisplayTree(); }

 private:
  DisplayTree m_tree;
};

// Values [first, first + count) of a ValueStore: one row.
struct ValueRange {
  uint32_t first = 0;
  uint32_t count = 0;
};

struct ResultColumn {
  std::string name;            // UTF-8: the label, else the column name
  const char* type = nullptr;  // SQL type name ("int", "varchar", ...), null when unknown
};

using ResultColumns = std::vector<ResultColumn>;

struct ResultSet {
  std::shared_ptr<const ResultColumns> columns;  // shared by the result sets of one format
  uint64_t rows = 0;                             // ROW tokens after the format
  bool dataKept = false;         // rows are kept (the first ones, up to the log's limit)
  std::vector<ValueRange> data;  // the rows kept, in Request::values
};

// ERROR, INFO or EED.
struct ServerMessage {
  enum class Token : uint8_t { kError, kInfo, kEed };
  Token token = Token::kError;
  int64_t number = 0;
  int32_t severity = 0;  // the message's class
  int32_t state = 0;
  std::string text;
};

struct LoginRecord {
  std::string user;
  std::string host;
  std::string application;
  std::string library;
  std::string libraryVersion;
  std::string packetSize;
  std::string byteOrder;  // "big-endian" or "little-endian"
  int8_t accepted = -1;   // from LOGINACK: 1 accepted, 0 refused, -1 not seen
};

// What is known of a connection: its two ends and, once its login was seen, who logged in. The
// five texts lie one after another in one block of exactly their size.
class ConnectionInfo {
 public:
  uint32_t conn = 0;

  std::string_view client() const { return Text(kClient); }  // address:port ("" when not known)
  std::string_view server() const { return Text(kServer); }
  std::string_view user() const { return Text(kUser); }
  std::string_view host() const { return Text(kHost); }
  std::string_view application() const { return Text(kApplication); }

  void SetEnds(std::string_view client, std::string_view server);
  void SetLogin(std::string_view user, std::string_view host, std::string_view application);

  // The most bytes of the five texts together; past it a text is cut.
  static constexpr size_t kMaxTextBytes = 65535;

 private:
  enum : int { kClient, kServer, kUser, kHost, kApplication, kTexts };
  std::string_view Text(int i) const {
    const size_t begin = i == 0 ? 0 : m_end[i - 1];
    return std::string_view(m_texts.get() + begin, m_end[i] - begin);
  }
  // Texts [first, first + count) replaced by `texts`.
  void Replace(int first, int count, const std::string_view* texts);

  uint16_t m_end[kTexts] = {};  // where each text ends in m_texts
  std::unique_ptr<char[]> m_texts;
};

struct Request {
  uint32_t conn = 0;
  RequestKind kind = RequestKind::kOther;
  std::shared_ptr<const ConnectionInfo> connection;

  // The request's message (its first and last frame) and the frame that completed the answer.
  uint64_t firstFrame = 0;
  uint64_t lastFrame = 0;
  uint64_t endFrame = 0;
  int64_t timeUs = 0;  // capture time of the first frame, microseconds since 1970 (UTC)
  int64_t endUs = 0;   // capture time of the frame that completed the answer

  std::string name;  // procedure, dynamic statement id, cursor, option (UTF-8)
  std::string text;  // the statement or what the request does, without parameter values (UTF-8)
  int32_t paramCount = 0;
  // Parameters, output values, rows and cursor keys, each a list of indexes into `values`.
  ValueStore values;
  std::vector<uint32_t> params;
  std::vector<uint32_t> key;  // the key values of a cursor update or delete
  // Names the statement's description gave its parameters (a dynamic execute), for values sent
  // without a name; null when there is none.
  std::shared_ptr<const std::vector<std::string>> paramNames;

  std::vector<ResultSet> results;
  uint64_t rowTokens = 0;   // ROW tokens of the answer
  int64_t countedRows = 0;  // sum of the completion tokens' valid counts
  bool countValid = false;  // some completion token had a valid count
  bool hasReturnStatus = false;
  int32_t returnStatus = 0;
  std::vector<uint32_t> output;  // returned parameters (PARAMS of the answer, RETURNVALUE)
  std::vector<ServerMessage> errors;
  std::vector<ServerMessage> messages;
  bool hasFinalStatus = false;
  uint16_t finalStatus = 0;  // status of the completion token that ended the answer

  bool complete = false;  // the answer ended, or will not come
  bool held = false;      // complete, but an attention that follows may still cancel it
  bool cancelled = false;
  bool unanswered = false;
  std::string note;

  std::unique_ptr<LoginRecord> login;  // kind kLogin only

  // Back to a new request's state, keeping the memory of its strings and lists.
  void Reset();

  // Rows of the answer: the completion tokens' counts where valid, else the ROW tokens.
  int64_t rows() const { return countValid ? countedRows : static_cast<int64_t>(rowTokens); }
  // Milliseconds from the request's first frame to the end of its answer (0 unanswered).
  double durationMs() const;
};

// Where finished requests go, in the order they were sent.
class RequestOutput {
 public:
  virtual ~RequestOutput() = default;
  virtual void Write(const Request& request) = 0;
  // No more requests.
  virtual void Finish() {}
};
