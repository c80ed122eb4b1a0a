// The request log's records: one client request with what the server answered to it, built by
// the request tracker from walked TDS messages and written by the request renderers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
// The short name of a TDS datatype code ("int4", "varchar", ...), or null for a code the
// decoder does not know.
const char* DatatypeName(int32_t code);

// A value as the message view shows its field: an integer, characters, or bytes in hex.
struct ShownValue {
  enum class Kind : uint8_t { kAbsent, kNull, kUnsigned, kSigned, kString, kHex };
  Kind kind = Kind::kAbsent;
  uint64_t number = 0;  // kUnsigned; kSigned holds the bits of an int64_t
  std::string bytes;    // kString (ISO-8859-1 characters) and kHex (raw bytes)
};

// A parameter of a request, or an output value of its answer.
struct RequestParam {
  std::string name;
  int32_t type = -1;  // TDS datatype code, -1 when unknown
  bool output = false;
  ShownValue value;
};

struct ResultColumn {
  std::string name;
  int32_t type = -1;
};

using ResultColumns = std::vector<ResultColumn>;

struct ResultSet {
  std::shared_ptr<const ResultColumns> columns;  // shared by the result sets of one format
  uint64_t rows = 0;                             // ROW tokens after the format
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

// What is known of a connection: its two ends and, once its login was seen, who logged in.
struct ConnectionInfo {
  uint32_t conn = 0;
  std::string client;  // address:port ("" when not known)
  std::string server;
  std::string user;
  std::string host;
  std::string application;
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

  std::string name;  // procedure, dynamic statement id, cursor, option
  std::string text;
  int32_t paramCount = 0;
  std::vector<RequestParam> params;

  std::vector<ResultSet> results;
  uint64_t rowTokens = 0;   // ROW tokens of the answer
  int64_t countedRows = 0;  // sum of the completion tokens' valid counts
  bool countValid = false;  // some completion token had a valid count
  bool hasReturnStatus = false;
  int32_t returnStatus = 0;
  std::vector<RequestParam> output;
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
