#include "frames.h"

#include "rng.h"
#include "tds_builder.h"

namespace {

constexpr uint8_t kNormal = 15;
constexpr uint32_t kOnePacket = 8192;  // every benchmark frame is a single packet

const uint8_t kEthernet[14] = {0x02, 0x20, 0, 0, 0, 1, 0x02, 0x10, 0, 0, 0, 1, 0x08, 0x00};

BenchFrame Wrap(const std::string& name, const gen::Bytes& message, uint8_t type) {
  BenchFrame f;
  f.name = name;
  f.block.assign(kEthernet, kEthernet + 14);
  gen::Packetize(message.data(), type, kOnePacket, 0, f.block);
  f.message = message.data();
  f.messageType = type;
  return f;
}

// The 40 columns: every datatype class whose description has no table name.
std::vector<gen::Column> FortyColumns() {
  gen::Rng rng(40);
  std::vector<gen::Column> columns;
  while (columns.size() < 40) {
    gen::Column c = gen::RandomColumn(rng, static_cast<int>(columns.size()), true);
    if (c.type == gen::kText || c.type == gen::kImage) continue;
    columns.push_back(c);
  }
  return columns;
}

}  // namespace

BenchFrame LoginFrame() {
  gen::LoginParams p;
  p.msbFirst = true;
  p.host = "ws123";
  p.user = "app_user";
  p.password = "pw1234";
  p.process = "4242";
  p.application = "OrderEntry";
  p.server = "PRODSRV";
  p.library = "GenClient";
  p.language = "us_english";
  p.charset = "iso_1";
  gen::Bytes b(true);
  gen::AppendLogin(b, p);
  return Wrap("login", b, 2);
}

BenchFrame RowFmtFrame() {
  gen::Bytes b(true);
  gen::AppendRowFmt(b, FortyColumns());
  return Wrap("rowfmt40", b, kNormal);
}

BenchFrame RowFrame() {
  gen::Rng rng(7);
  gen::Bytes b(true);
  gen::AppendRow(b, 0xD1, FortyColumns(), rng);
  return Wrap("row40", b, kNormal);
}

BenchFrame ErrorFrame() {
  gen::Bytes b(true);
  gen::AppendErrorOrInfo(b, 0xAA,
                         {208, 1, 16, "no_such_table not found.", "PRODSRV", "sp_reprice", 12});
  return Wrap("error", b, kNormal);
}

BenchFrame RpcFrame() {
  gen::Rng rng(8);
  std::vector<gen::Column> params;
  for (int i = 0; params.size() < 8; ++i) {
    gen::Column c = gen::RandomColumn(rng, 0, false);
    c.name = "@p" + std::to_string(i + 1);
    c.status = i % 3 == 0 ? 1 : 0;
    params.push_back(c);
  }
  gen::Bytes b(true);
  gen::AppendRpc(b, "sp_get_orders", params, rng);
  return Wrap("rpc8", b, kNormal);
}

BenchFrame CapabilityFrame() {
  gen::Bytes b(true);
  gen::AppendShortCapability(b);
  return Wrap("capability", b, kNormal);
}

BenchFrame ResultMessage() {
  gen::Rng rng(9);
  const std::vector<gen::Column> columns = FortyColumns();
  gen::Bytes b(true);
  gen::AppendRowFmt(b, columns);
  for (int r = 0; r < 20; ++r) gen::AppendRow(b, 0xD1, columns, rng);
  gen::AppendDone(b, 0xFD, 0x0010, 0, 20);
  return Wrap("result_message", b, 4);
}
