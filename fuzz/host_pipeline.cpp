#include "host_pipeline.h"

#include "connection_table.h"
#include "fuzz_support.h"
#include "link_layer.h"
#include "packet_view.h"
#include "stats.h"

void RunHostPipeline(FrameSource& source, const Options& options) {
  HostStats stats;
  PacketView view(sybasetds_parse, options, DiscardOut(), stats);
  {
    ConnectionTable table(options, view, stats);
    InputFrame input;
    TcpSegment segment;
    uint64_t frame = 0;
    while (source.Next(input)) {
      ++frame;
      ++stats.framesRead;
      const LinkResult r =
          DecodeFrame(input.linkType, input.data, input.captured, input.wire, segment);
      if (r == LinkResult::kTcp)
        table.Segment(segment, frame, input.hasHint ? &input.hint : nullptr);
      else if (r == LinkResult::kTooShort)
        ++stats.framesTooShort;
    }
    table.EndAll(frame);
    view.EndAll();
  }
  PrintStatsText(stats, DiscardOut());
  PrintStatsJson(stats, DiscardOut());
}
