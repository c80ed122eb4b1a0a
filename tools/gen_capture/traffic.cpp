#include "traffic.h"

#include <deque>
#include <string>

#include "pcap_writer.h"
#include "rng.h"
#include "tds_builder.h"

namespace gen {

namespace {

constexpr uint8_t kTypeLogin = 2;
constexpr uint8_t kTypeResponse = 4;
constexpr uint8_t kTypeRequest = 15;
constexpr size_t kMss = 1460;
constexpr uint32_t kTables = 6;

const char* const kTableNames[] = {"orders",   "customers", "invoices",  "shipments",
                                   "accounts", "products",  "audit_log", "positions"};
const char* const kDatabases[] = {"master", "sales", "inventory", "hr", "reporting"};
const char* const kUsers[] = {"sa", "app_user", "report", "batch01", "jdoe", "etl"};
const char* const kApplications[] = {"OrderEntry", "isql", "ReportSrv", "BatchLoader", "Dashboard"};
const char* const kProcedures[] = {"sp_get_orders",   "sp_update_balance",   "sp_who",
                                   "sp_close_period", "sp_customer_summary", "sp_reprice"};
const char* const kServerName = "PRODSRV";
const char* const kProgramName = "DataServer";

struct Segment {
  uint8_t side;
  uint8_t flags;
  std::vector<uint8_t> payload;
};

}  // namespace

struct Session::State {
  State(uint64_t seed, uint32_t number, uint16_t serverPort);

  bool Next(bool wrapUp, std::vector<uint8_t>& frame, uint32_t& payloadBytes);
  void Refill(bool wrapUp);

  // The conversation.
  void Handshake();
  void Login();
  void Command();
  void Logout();
  void Close();

  void SelectCommand();
  void UpdateCommand();
  void ErrorCommand();
  void PrintCommand();
  void UseCommand();
  void RpcCommand();
  void DbRpcCommand();
  void CursorCommands();
  void ResultSet(Bytes& b, const std::vector<Column>& columns, uint32_t rows, uint8_t done,
                 uint16_t doneStatus);

  // Messages onto the wire.
  Bytes NewMessage() const { return Bytes(msbFirst); }
  void Request(const Bytes& message, uint8_t type = kTypeRequest);
  void Response(const Bytes& message);
  void Stream(int side, const std::vector<uint8_t>& bytes, size_t piece, bool cutFirst);
  void PerPacket(int side, const std::vector<uint8_t>& bytes);
  void Data(int side, const uint8_t* p, size_t n);
  void Control(int side, uint8_t flags);

  std::string Sql(const std::vector<Column>& columns, uint32_t table);
  uint32_t RowCount();

  Rng rng;
  TcpFlow flow;
  bool msbFirst;
  uint32_t packetSize;
  std::deque<Segment> pending;
  enum class Phase { kStart, kCommands, kClosing, kDone } phase = Phase::kStart;
  uint32_t commandsLeft;
  uint32_t unacked[2] = {0, 0};
  uint8_t packetNumber = 1;
  uint32_t cursorIds = 0;
  std::string database = "master";
  std::vector<std::vector<Column>> tables;
  std::vector<uint8_t> scratch;
};

namespace {

TcpFlow MakeFlow(Rng& rng, uint32_t number, uint16_t serverPort) {
  TcpFlow::End client{};
  TcpFlow::End server{};
  const uint8_t clientMac[6] = {
      0x02, 0x10, 0x00, 0x00, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
  const uint8_t serverMac[6] = {0x02, 0x20, 0x00, 0x00, 0x00, 0x01};
  std::copy(clientMac, clientMac + 6, client.mac);
  std::copy(serverMac, serverMac + 6, server.mac);
  // Documentation addresses: clients 192.0.2.1-200, the server 198.51.100.10.
  const uint8_t clientIp[4] = {192, 0, 2, static_cast<uint8_t>(1 + number % 200)};
  const uint8_t serverIp[4] = {198, 51, 100, 10};
  std::copy(clientIp, clientIp + 4, client.ip);
  std::copy(serverIp, serverIp + 4, server.ip);
  client.port = static_cast<uint16_t>(40000 + (number / 200) % 25000);
  server.port = serverPort;
  client.seq = static_cast<uint32_t>(rng.Next());
  server.seq = static_cast<uint32_t>(rng.Next());
  client.ipId = static_cast<uint16_t>(rng.Next());
  server.ipId = static_cast<uint16_t>(rng.Next());
  client.window = 64240;
  server.window = 65160;
  return TcpFlow(client, server);
}

}  // namespace

Session::State::State(uint64_t seed, uint32_t number, uint16_t serverPort)
    : rng(DeriveSeed(seed, number)),
      flow(MakeFlow(rng, number, serverPort)),
      msbFirst(rng.Chance(25)),
      packetSize(rng.Chance(15) ? 2048 : 512),
      commandsLeft(rng.Range(5, 120)) {
  for (uint32_t t = 0; t < kTables; ++t) {
    std::vector<Column> columns;
    const uint32_t roll = rng.Below(100);
    const uint32_t n = roll < 40   ? rng.Range(2, 6)
                       : roll < 80 ? rng.Range(7, 20)
                                   : rng.Range(21, 40);
    Column id;
    id.name = "id";
    id.type = kInt4;
    id.userType = 7;
    columns.push_back(id);
    for (uint32_t i = 1; i < n; ++i)
      columns.push_back(RandomColumn(rng, static_cast<int>(i), rng.Chance(30)));
    tables.push_back(std::move(columns));
  }
}

bool Session::State::Next(bool wrapUp, std::vector<uint8_t>& frame, uint32_t& payloadBytes) {
  while (pending.empty()) {
    if (phase == Phase::kDone) return false;
    Refill(wrapUp);
  }
  Segment& s = pending.front();
  flow.Build(s.side, s.flags, s.payload.data(), s.payload.size(), frame);
  payloadBytes = static_cast<uint32_t>(s.payload.size());
  pending.pop_front();
  return true;
}

void Session::State::Refill(bool wrapUp) {
  switch (phase) {
    case Phase::kStart:
      Handshake();
      Login();
      return;
    case Phase::kCommands:
      if (wrapUp || commandsLeft == 0) {
        Logout();
        Close();
        phase = Phase::kDone;
        return;
      }
      --commandsLeft;
      Command();
      return;
    case Phase::kClosing:
      Close();
      phase = Phase::kDone;
      return;
    case Phase::kDone:
      return;
  }
}

void Session::State::Control(int side, uint8_t flags) {
  pending.push_back(Segment{static_cast<uint8_t>(side), flags, {}});
}

void Session::State::Data(int side, const uint8_t* p, size_t n) {
  pending.push_back(
      Segment{static_cast<uint8_t>(side), kAck | kPsh, std::vector<uint8_t>(p, p + n)});
  // The receiver acknowledges every second segment.
  if (++unacked[side] >= 2) {
    Control(1 - side, kAck);
    unacked[side] = 0;
  }
}

void Session::State::Stream(int side, const std::vector<uint8_t>& bytes, size_t piece,
                            bool cutFirst) {
  size_t at = 0;
  if (cutFirst && bytes.size() > 1) {
    // A first segment that ends inside a TDS packet, even inside its header.
    const size_t cut = 1 + rng.Below(static_cast<uint32_t>(bytes.size() - 1));
    const size_t n = cut < piece ? cut : piece;
    Data(side, bytes.data(), n);
    at = n;
  }
  while (at < bytes.size()) {
    const size_t n = bytes.size() - at < piece ? bytes.size() - at : piece;
    Data(side, bytes.data() + at, n);
    at += n;
  }
}

void Session::State::PerPacket(int side, const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at + 8 <= bytes.size()) {
    const size_t length = static_cast<size_t>(bytes[at + 2] << 8 | bytes[at + 3]);
    for (size_t done = 0; done < length;) {
      const size_t n = length - done < kMss ? length - done : kMss;
      Data(side, bytes.data() + at + done, n);
      done += n;
    }
    at += length;
  }
}

void Session::State::Request(const Bytes& message, uint8_t type) {
  scratch.clear();
  Packetize(message.data(), type, packetSize, 0, scratch);
  Stream(0, scratch, kMss, rng.Chance(8));
  if (unacked[0] && rng.Chance(60)) {
    Control(1, kAck);
    unacked[0] = 0;
  }
}

void Session::State::Response(const Bytes& message) {
  scratch.clear();
  Packetize(message.data(), kTypeResponse, packetSize, packetNumber, scratch);
  packetNumber =
      static_cast<uint8_t>(packetNumber + (scratch.size() + packetSize - 1) / packetSize);
  const uint32_t mode = rng.Below(100);
  if (mode < 45)
    PerPacket(1, scratch);  // one write per TDS packet
  else if (mode < 80)
    Stream(1, scratch, 1448, false);  // written in pieces: packets straddle segments
  else
    Stream(1, scratch, kMss, rng.Chance(30));
  if (unacked[1]) {
    Control(0, kAck);
    unacked[1] = 0;
  }
}

void Session::State::Handshake() {
  Control(0, kSyn);
  Control(1, kSyn | kAck);
  Control(0, kAck);
}

void Session::State::Login() {
  LoginParams p;
  p.msbFirst = msbFirst;
  p.host = "ws" + std::to_string(rng.Range(100, 999));
  p.user = rng.Pick(kUsers);
  p.password = "pw" + std::to_string(rng.Range(1000, 9999));
  p.process = std::to_string(rng.Range(1000, 65000));
  p.application = rng.Pick(kApplications);
  p.server = kServerName;
  p.library = "GenClient";
  p.language = "us_english";
  p.charset = "iso_1";
  p.packetSize = packetSize;
  Bytes login = NewMessage();
  AppendLogin(login, p);
  // The login goes in packets of 512 bytes whatever size the client asks for.
  scratch.clear();
  Packetize(login.data(), kTypeLogin, 512, 0, scratch);
  Stream(0, scratch, kMss, false);

  Bytes answer = NewMessage();
  if (rng.Chance(2)) {
    AppendLoginAck(answer, 6, kProgramName);
    AppendEed(answer, {4002, 1, 14, "Login failed.", kServerName, "", 0}, "ZZZZZ", 0);
    AppendDone(answer, 0xFD, 0x0002, 0, 0);
    Response(answer);
    phase = Phase::kClosing;
    return;
  }
  AppendLoginAck(answer, 5, kProgramName);
  database = rng.Pick(kDatabases);
  AppendEnvChange(answer, 1, database, "master");
  AppendEed(answer,
            {5701, 2, 10, "Changed database context to '" + database + "'.", kServerName, "", 0},
            "ZZZZZ", 0);
  AppendEnvChange(answer, 2, "us_english", "");
  AppendEed(answer, {5703, 1, 10, "Changed language setting to 'us_english'.", kServerName, "", 0},
            "ZZZZZ", 0);
  AppendEnvChange(answer, 3, "iso_1", "iso_1");
  const std::string size = std::to_string(packetSize);
  AppendEnvChange(answer, 4, size, size);
  AppendCapability(answer, true);
  AppendDone(answer, 0xFD, 0, 0, 0);
  Response(answer);
  phase = Phase::kCommands;
}

void Session::State::Logout() {
  Bytes b = NewMessage();
  AppendLogout(b);
  Request(b);
  Bytes done = NewMessage();
  AppendDone(done, 0xFD, 0, 0, 0);
  Response(done);
}

void Session::State::Close() {
  Control(0, kFin | kAck);
  Control(1, kFin | kAck);
  Control(0, kAck);
}

uint32_t Session::State::RowCount() {
  const uint32_t roll = rng.Below(100);
  if (roll < 10) return 0;
  if (roll < 60) return rng.Range(1, 10);
  if (roll < 90) return rng.Range(11, 100);
  return rng.Range(101, 500);
}

std::string Session::State::Sql(const std::vector<Column>& columns, uint32_t table) {
  std::string s = "select ";
  if (rng.Chance(40)) {
    s += "*";
  } else {
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) s += ", ";
      s += columns[i].name;
    }
  }
  s += " from ";
  s += kTableNames[table];
  if (rng.Chance(70)) s += " where id > " + std::to_string(rng.Below(100000));
  if (rng.Chance(30)) s += " order by id";
  return s;
}

void Session::State::ResultSet(Bytes& b, const std::vector<Column>& columns, uint32_t rows,
                               uint8_t done, uint16_t doneStatus) {
  AppendRowFmt(b, columns);
  if (rng.Chance(20)) AppendOrderBy(b, {1});
  for (uint32_t r = 0; r < rows; ++r) AppendRow(b, 0xD1, columns, rng);
  AppendDone(b, done, static_cast<uint16_t>(doneStatus | 0x0010), 0, static_cast<int32_t>(rows));
}

void Session::State::Command() {
  const uint32_t roll = rng.Below(100);
  if (roll < 40)
    SelectCommand();
  else if (roll < 52)
    UpdateCommand();
  else if (roll < 60)
    RpcCommand();
  else if (roll < 70)
    DbRpcCommand();
  else if (roll < 77)
    ErrorCommand();
  else if (roll < 82)
    PrintCommand();
  else if (roll < 86)
    UseCommand();
  else
    CursorCommands();
}

void Session::State::SelectCommand() {
  const uint32_t t = rng.Below(kTables);
  const bool batch = rng.Chance(15);  // two statements, two results
  const uint32_t t2 = rng.Below(kTables);
  Bytes q = NewMessage();
  std::string sql = Sql(tables[t], t);
  if (batch) sql += "\n" + Sql(tables[t2], t2);
  AppendLanguage(q, sql);
  Request(q);
  Bytes r = NewMessage();
  if (rng.Chance(5))
    AppendErrorOrInfo(r, 0xAB, {3604, 1, 0, "Duplicate key was ignored.", kServerName, "", 1});
  ResultSet(r, tables[t], RowCount(), 0xFD, batch ? 0x0001 : 0);
  if (batch) ResultSet(r, tables[t2], RowCount(), 0xFD, 0);
  Response(r);
}

void Session::State::UpdateCommand() {
  const uint32_t t = rng.Below(kTables);
  Bytes q = NewMessage();
  const bool insert = rng.Chance(40);
  std::string sql = insert ? "insert into " : "update ";
  sql += kTableNames[t];
  sql += insert ? " values (" + std::to_string(rng.Below(100000)) + ", 'new')"
                : " set status = 'shipped' where id = " + std::to_string(rng.Below(100000));
  AppendLanguage(q, sql);
  Request(q);
  Bytes r = NewMessage();
  AppendDone(r, 0xFD, 0x0010, 0, insert ? 1 : static_cast<int32_t>(rng.Below(50)));
  Response(r);
}

void Session::State::ErrorCommand() {
  Bytes q = NewMessage();
  const bool syntax = rng.Chance(50);
  AppendLanguage(q, syntax ? "selct * form orders" : "select * from no_such_table");
  Request(q);
  Bytes r = NewMessage();
  if (syntax) {
    AppendEed(r, {102, 1, 15, "Incorrect syntax near 'selct'.", kServerName, "", 1}, "42000", 0);
  } else if (rng.Chance(50)) {
    AppendErrorOrInfo(r, 0xAA, {208, 1, 16, "no_such_table not found.", kServerName, "", 1});
  } else {
    AppendEed(r, {208, 1, 16, "no_such_table not found.", kServerName, "", 1}, "42000", 0);
  }
  AppendDone(r, 0xFD, 0x0002, 0, 0);
  Response(r);
}

void Session::State::PrintCommand() {
  Bytes q = NewMessage();
  const std::string text = "batch step " + std::to_string(rng.Below(1000)) + " done";
  AppendLanguage(q, "print '" + text + "'");
  Request(q);
  Bytes r = NewMessage();
  AppendEed(r, {0, 1, 0, text, kServerName, "", 1}, "", 0);
  AppendDone(r, 0xFD, 0, 0, 0);
  Response(r);
}

void Session::State::UseCommand() {
  const std::string next = rng.Pick(kDatabases);
  Bytes q = NewMessage();
  AppendLanguage(q, "use " + next);
  Request(q);
  Bytes r = NewMessage();
  AppendEnvChange(r, 1, next, database);
  AppendEed(r, {5701, 1, 10, "Changed database context to '" + next + "'.", kServerName, "", 1},
            "ZZZZZ", 0);
  AppendDone(r, 0xFD, 0, 0, 0);
  database = next;
  Response(r);
}

namespace {

// Output parameters carry status 0x01, as clients set it (0x08 would announce a column status
// byte before each value).
std::vector<Column> Parameters(Rng& rng, uint32_t count) {
  std::vector<Column> params;
  for (uint32_t i = 0; i < count; ++i) {
    Column c = RandomColumn(rng, 0, false);
    c.name = "@p" + std::to_string(i + 1);
    const bool output = rng.Chance(25);
    c.status = output ? 0x01 : 0;
    c.userType = 0;
    params.push_back(c);
  }
  return params;
}

}  // namespace

void Session::State::RpcCommand() {
  const std::string name = rng.Pick(kProcedures);
  const std::vector<Column> params = Parameters(rng, rng.Range(0, 8));
  Bytes q = NewMessage();
  AppendRpc(q, name, params, rng);
  Request(q);
  Bytes r = NewMessage();
  if (rng.Chance(60)) ResultSet(r, tables[rng.Below(kTables)], RowCount(), 0xFF, 0x0001);
  AppendReturnStatus(r, rng.Chance(85) ? 0 : -6);
  AppendDone(r, 0xFE, 0, 0, 0);
  Response(r);
}

void Session::State::DbRpcCommand() {
  const std::string name = rng.Pick(kProcedures);
  const std::vector<Column> params = Parameters(rng, rng.Range(1, 15));
  Bytes q = NewMessage();
  AppendDbRpc(q, name, true);
  AppendParamFmt(q, params);
  AppendRow(q, 0xD7, params, rng);
  Request(q);

  Bytes r = NewMessage();
  if (rng.Chance(2)) {
    AppendEed(r, {2812, 5, 16, "Stored procedure '" + name + "' not found.", kServerName, "", 1},
              "ZZZZZ", 0);
    AppendDone(r, 0xFE, 0x0002, 0, 0);
    Response(r);
    return;
  }
  if (rng.Chance(70)) ResultSet(r, tables[rng.Below(kTables)], RowCount(), 0xFF, 0x0001);
  if (rng.Chance(30))
    AppendErrorOrInfo(r, 0xAB, {0, 1, 0, "Period closed.", kServerName, name, 42});
  AppendReturnStatus(r, 0);
  std::vector<Column> outputs;
  for (const Column& p : params)
    if (p.status & 0x01) outputs.push_back(p);
  if (!outputs.empty()) {
    AppendParamFmt(r, outputs);
    AppendRow(r, 0xD7, outputs, rng);
  }
  AppendDone(r, 0xFE, 0, 0, 0);
  Response(r);
}

void Session::State::CursorCommands() {
  const uint32_t t = rng.Below(kTables);
  const std::vector<Column>& columns = tables[t];
  const uint32_t id = ++cursorIds;
  const std::string name = "cur" + std::to_string(id);
  const bool forUpdate = rng.Chance(30);
  const int32_t perFetch = static_cast<int32_t>(rng.Range(1, 20));
  const uint32_t total = rng.Range(0, 60);

  // Declare, set the rows per fetch and open in one message.
  Bytes q = NewMessage();
  AppendCurDeclare(
      q, name, Sql(columns, t), forUpdate,
      forUpdate ? std::vector<std::string>{columns.back().name} : std::vector<std::string>{});
  AppendCurInfo(q, 0, name, 1, 0x0020, perFetch);
  AppendCurOpen(q, 0, name);
  Request(q);
  Bytes r = NewMessage();
  AppendCurInfo(r, id, "", 3, 0x0029, 0);
  AppendDone(r, 0xFD, 0x0001, 0, 0);
  AppendCurInfo(r, id, "", 3, 0x0021, perFetch);
  AppendDone(r, 0xFD, 0x0001, 0, 0);
  AppendRowFmt(r, columns);
  AppendCurInfo(r, id, "", 3, 0x0022, 0);
  AppendDone(r, 0xFD, 0, 0, 0);
  Response(r);

  uint32_t fetched = 0;
  for (;;) {
    Bytes f = NewMessage();
    AppendCurFetch(f, id, 1);
    Request(f);
    const uint32_t n =
        total - fetched < static_cast<uint32_t>(perFetch) ? total - fetched : perFetch;
    Bytes rows = NewMessage();
    for (uint32_t i = 0; i < n; ++i) AppendRow(rows, 0xD1, columns, rng);
    if (n == 0) AppendCurInfo(rows, id, "", 3, 0x0024, 0);  // past the last row
    AppendDone(rows, 0xFD, 0x0010, 0, static_cast<int32_t>(n));
    Response(rows);
    fetched += n;
    if (n == 0) break;
  }

  Bytes c = NewMessage();
  AppendCurClose(c, id, true);
  Request(c);
  Bytes closed = NewMessage();
  AppendCurInfo(closed, id, "", 3, 0x0004, 0);
  AppendDone(closed, 0xFD, 0, 0, 0);
  Response(closed);
}

Session::Session(uint64_t seed, uint32_t number, uint16_t serverPort)
    : m_state(new State(seed, number, serverPort)) {}
Session::~Session() = default;
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&&) noexcept = default;

bool Session::NextFrame(bool wrapUp, std::vector<uint8_t>& frame, uint32_t& payloadBytes) {
  return m_state->Next(wrapUp, frame, payloadBytes);
}

bool GenerateCapture(const TrafficOptions& options, FILE* out, TrafficSummary& summary) {
  PcapWriter writer(out);
  Rng schedule(DeriveSeed(options.seed, 0xFFFFFFFFull));
  std::vector<Session> active;
  uint32_t opened = 0;
  uint64_t clock = 1700000000ull * 1000000ull + options.seed % 1000000ull;
  std::vector<uint8_t> frame;
  bool wrapUp = false;
  const uint32_t concurrency = options.concurrency ? options.concurrency : 1;
  for (;;) {
    if (!wrapUp && writer.bytes() >= options.size) wrapUp = true;
    while (!wrapUp && active.size() < concurrency)
      active.emplace_back(options.seed, ++opened, options.serverPort);
    if (active.empty()) break;
    // A short burst of one connection's frames, then another connection's.
    const uint32_t i = schedule.Below(static_cast<uint32_t>(active.size()));
    const uint32_t burst = schedule.Range(1, 4);
    for (uint32_t k = 0; k < burst; ++k) {
      uint32_t payload = 0;
      if (!active[i].NextFrame(wrapUp, frame, payload)) {
        active[i] = std::move(active.back());
        active.pop_back();
        break;
      }
      clock += schedule.Range(5, 400);
      writer.Frame(clock, frame.data(), frame.size());
      summary.payloadBytes += payload;
    }
  }
  const bool ok = writer.Flush();
  summary.bytes = writer.bytes();
  summary.frames = writer.frames();
  summary.connections = opened;
  return ok;
}

}  // namespace gen
