#include "host_pipeline.h"

#include "fuzz_support.h"
#include "input/link_layer.h"
#include "requests/request_render.h"
#include "requests/request_view.h"
#include "stats.h"
#include "streams/connection_table.h"
#include "views/message_view.h"
#include "views/packet_view.h"

extern "C" int32_t sybasetds_parse_message(const uint8_t* frame, CPDecode* tree,
                                           const uint8_t* data, int32_t length, int32_t messageType,
                                           int32_t channel, TdsMessageWalk* walk);

namespace {

template <typename ViewT>
void Run(FrameSource& source, const Options& options, ViewT& view, HostStats& stats,
         int64_t* clock = nullptr) {
  {
    ConnectionTable table(options, view, stats);
    InputFrame input;
    TcpSegment segment;
    uint64_t frame = 0;
    while (source.Next(input)) {
      ++frame;
      if (clock) *clock = input.timeUs;
      FeedFrame(input, frame, table, segment, stats);
    }
    table.EndAll(frame);
    view.EndAll();
  }
  PrintStatsText(stats, DiscardOut());
  PrintStatsJson(stats, DiscardOut());
}

}  // namespace

void RunHostPipeline(FrameSource& source, const Options& options) {
  HostStats stats;
  if (options.requests) {
    RequestJsonWriter json(DiscardOut());
    RequestTextWriter text(DiscardOut(), 80);
    RequestOutput& out = options.format == OutputFormat::kJson ? static_cast<RequestOutput&>(json)
                                                               : static_cast<RequestOutput&>(text);
    int64_t clock = 0;
    RequestView view(sybasetds_parse_message, out, stats, clock);
    Run(source, options, view, stats, &clock);
    view.Finish();
  } else if (options.view == ViewKind::kMessage) {
    MessageView view(sybasetds_parse_message, options, DiscardOut(), stats);
    Run(source, options, view, stats);
  } else {
    PacketView view(sybasetds_parse, options, DiscardOut(), stats);
    Run(source, options, view, stats);
  }
}
