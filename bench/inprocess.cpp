// In-process benchmarks: the plug-in's entries and the engine's recording and rendering, frame
// after frame, the way the host drives them but without capture input or output. Rendering
// goes into an output buffer that is thrown away when full.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "frames.h"
#include "tdsengine/constant_text.h"
#include "tdsengine/display_tree.h"
#include "tdsengine/engine.h"
#include "tdsengine/message.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/render.h"
#include "tdsengine/store.h"

extern "C" int32_t sybasetds_parse(const uint8_t* frame, CPDecode* tree, int32_t spare,
                                   const uint8_t** cursor, int32_t remaining, int32_t offset);
extern "C" int32_t sybasetds_parse_message(const uint8_t* frame, CPDecode* tree,
                                           const uint8_t* data, int32_t length, int32_t messageType,
                                           int32_t channel, TdsMessageWalk* walk);

namespace {

enum class Output { kRecord, kJson, kText };

constexpr uint32_t kConnection = 1;

// One engine as the host keeps it: a store per connection, one display tree, one output buffer.
struct Harness {
  StoreRegistry registry;
  DisplayTree tree;
  OutBuffer out{nullptr, 1 << 20};  // no file: a full buffer is dropped

  Harness() {
    // As the host does once it has loaded the plug-in: its labels, notes and tables are
    // constants the renderers may keep in escaped form.
    AddConstantModule(dlsym(RTLD_DEFAULT, "sybasetds_parse"));
    // Every frame is decoded on a connection whose login filed "most significant byte first".
    const BenchFrame login = LoginFrame();
    Decode(login, Output::kRecord);
  }

  int32_t Decode(const BenchFrame& f, Output output) {
    registry.Select(kConnection);
    const uint8_t* tds = f.block.data() + f.tdsOffset;
    const size_t length = f.block.size() - f.tdsOffset;
    tree.BeginFrame(f.block.data(), f.block.size(), tds);
    CPDecode decode(&tree);
    decode.ConnectionId = kConnection;
    const uint8_t* cursor = tds;
    const int32_t result =
        sybasetds_parse(f.block.data(), &decode, 0, &cursor, static_cast<int32_t>(length), 0);
    Render(result, static_cast<int32_t>(length), output);
    return result;
  }

  int32_t DecodeMessage(const BenchFrame& f, Output output) {
    registry.Select(kConnection);
    // The message entry is handed a block of the Ethernet header and the message data.
    block.assign(f.block.begin(), f.block.begin() + 14);
    block.insert(block.end(), f.message.begin(), f.message.end());
    tree.BeginFrame(block.data(), block.size(), block.data() + 14);
    CPDecode decode(&tree);
    decode.ConnectionId = kConnection;
    TdsMessageWalk walk{};
    const int32_t result =
        sybasetds_parse_message(block.data(), &decode, block.data() + 14,
                                static_cast<int32_t>(f.message.size()), f.messageType, 0, &walk);
    Render(result, static_cast<int32_t>(f.message.size()), output);
    return walk.restSize;
  }

  void Render(int32_t result, int32_t length, Output output) {
    FrameMeta meta;
    meta.frame = 1;
    meta.conn = kConnection;
    meta.result = result;
    meta.tdsBytes = length;
    if (output == Output::kJson) RenderFrameJson(tree, meta, out);
    if (output == Output::kText) RenderFrameText(tree, meta, out);
  }

  std::vector<uint8_t> block;
};

Harness& Engine() {
  static Harness harness;
  return harness;
}

void Report(benchmark::State& state, uint64_t fields, uint64_t bytes) {
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(fields), benchmark::Counter::kIsRate);
  state.counters["fields/frame"] =
      static_cast<double>(fields) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void DecodeFrames(benchmark::State& state, const std::function<BenchFrame()>& make, Output output,
                  const BenchFrame* before) {
  Harness& h = Engine();
  const BenchFrame f = make();
  uint64_t fields = 0;
  if (before) h.Decode(*before, Output::kRecord);  // files the format the frame needs
  for (auto _ : state) {
    h.Decode(f, output);
    fields += h.tree.fields().size();
    benchmark::DoNotOptimize(h.tree.fields().data());
  }
  Report(state, fields, state.iterations() * (f.block.size() - f.tdsOffset));
}

void DecodeMessages(benchmark::State& state, Output output) {
  Harness& h = Engine();
  const BenchFrame f = ResultMessage();
  uint64_t fields = 0;
  if (h.DecodeMessage(f, Output::kRecord) != 0) {
    state.SkipWithError("the message walk did not reach the end of the message");
    return;
  }
  for (auto _ : state) {
    h.DecodeMessage(f, output);
    fields += h.tree.fields().size();
    benchmark::DoNotOptimize(h.tree.fields().data());
  }
  Report(state, fields, state.iterations() * f.message.size());
}

const BenchFrame& RowFormat() {
  static const BenchFrame f = RowFmtFrame();
  return f;
}

void Register(const char* name, BenchFrame (*make)(), const BenchFrame* before = nullptr) {
  static const struct {
    const char* suffix;
    Output output;
  } kOutputs[] = {{"record", Output::kRecord}, {"json", Output::kJson}, {"text", Output::kText}};
  for (const auto& o : kOutputs) {
    const std::string full = std::string(name) + "/" + o.suffix;
    const Output output = o.output;
    benchmark::RegisterBenchmark(full.c_str(), [make, output, before](benchmark::State& s) {
      DecodeFrames(s, make, output, before);
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register("login", LoginFrame);
  Register("rowfmt40", RowFmtFrame);
  Register("row40", RowFrame, &RowFormat());
  Register("error", ErrorFrame);
  Register("rpc8", RpcFrame);
  Register("capability", CapabilityFrame);
  benchmark::RegisterBenchmark("message_result20/record",
                               [](benchmark::State& s) { DecodeMessages(s, Output::kRecord); });
  benchmark::RegisterBenchmark("message_result20/json",
                               [](benchmark::State& s) { DecodeMessages(s, Output::kJson); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The plug-in's format records go back while the plug-in's own tables still exist.
  Engine().registry.EndAll();
  return 0;
}
