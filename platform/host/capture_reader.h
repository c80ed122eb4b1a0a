// Capture files (pcap and pcapng) through libpcap; "-" reads standard input.
#pragma once

#include <memory>
#include <string>

#include "frame_source.h"

struct pcap;

class CaptureSource : public FrameSource {
 public:
  // Null with a reason ("WHAT: WHY") when the file cannot be opened or is not a capture.
  // filter: a capture filter expression (empty: none).
  static std::unique_ptr<CaptureSource> Open(const std::string& path, std::string& error,
                                             const std::string& filter = "");
  ~CaptureSource() override;

  bool Next(InputFrame& frame) override;
  uint64_t position() const override;
  int linkType() const { return m_linkType; }

 private:
  CaptureSource(pcap* handle, std::string name, int linkType);

  // Records of a classic pcap file read straight from a mapping of it (no copies); null when
  // libpcap reads them.
  void MapRecords(int fd, uint64_t size);
  bool NextMapped(InputFrame& frame);
  // libpcap reads on from the mapped reader's place.
  void Unmap();

  pcap* m_pcap;
  std::string m_name;
  int m_linkType;
  char* m_buffer = nullptr;  // the file's read buffer (null: the stream's own)
  const uint8_t* m_map = nullptr;
  uint64_t m_mapSize = 0;
  uint64_t m_at = 0;        // the next record's offset in the mapping
  uint64_t m_released = 0;  // pages before this offset are let go
  bool m_swapped = false;
};

// Compiles the filter expression and sets it on the handle; false with the reason in `error`.
bool SetCaptureFilter(pcap* handle, const std::string& filter, std::string& error);

// How messages name an input: its path, or "standard input" for "-".
std::string InputName(const std::string& path);
