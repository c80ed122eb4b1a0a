// A copy of the frames read, written to a classic pcap file as they are read (-w): the frames a
// capture filter passed, up to -c, from a capture file or a live interface.
#pragma once

#include <memory>
#include <string>

#include "input/frame_source.h"

struct pcap;
struct pcap_dumper;

class FrameWriter {
 public:
  // Null with a reason ("FILE: WHY") when the file cannot be written. flushEach: every frame
  // reaches the file as it is written (a live capture, which may be stopped at any time).
  static std::unique_ptr<FrameWriter> Open(const std::string& path, int linkType, bool flushEach,
                                           std::string& error);
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  int linkType() const { return m_linkType; }
  void Write(const InputFrame& frame);
  // Everything written is in the file: false with the reason when the file could not take it.
  bool Close(std::string& error);

 private:
  FrameWriter(pcap* dead, pcap_dumper* dumper, std::string path, int linkType, bool flushEach)
      : m_dead(dead),
        m_dumper(dumper),
        m_path(std::move(path)),
        m_linkType(linkType),
        m_flushEach(flushEach) {}

  pcap* m_dead;
  pcap_dumper* m_dumper;
  std::string m_path;
  int m_linkType;
  bool m_flushEach;
};
