// Live capture through libpcap (-i IFACE, "any" on Linux): immediate mode, so each frame is
// handed over as it arrives; an optional capture filter (-f) and a copy of every captured
// frame written to a pcap file (-w).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "input/frame_source.h"
#include "input/frame_writer.h"

struct pcap;

class LiveSource : public FrameSource {
 public:
  static constexpr int kSnapLength = 262144;

  // Null with a reason ("WHAT: WHY") when the interface cannot be opened, the filter does not
  // compile or the copy cannot be written.
  static std::unique_ptr<LiveSource> Open(const std::string& iface, const std::string& filter,
                                          const std::string& writeFile, std::string& error);
  ~LiveSource() override;

  bool Next(InputFrame& frame) override;
  uint64_t position() const override { return 0; }

 private:
  LiveSource(pcap* handle, std::string name, int linkType);

  pcap* m_pcap;
  std::unique_ptr<FrameWriter> m_copy;
  std::string m_name;
  int m_linkType;
};

// -D: one line per interface, "N.NAME (DESCRIPTION)"; false with the reason when none can be
// listed.
bool ListInterfaces(FILE* out, std::string& error);
