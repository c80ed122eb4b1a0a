// Capture files (pcap and pcapng) through libpcap; "-" reads standard input.
#pragma once

#include <memory>
#include <string>

#include "input/frame_source.h"

struct pcap;
struct pcap_pkthdr;
struct bpf_program;
class FrameWriter;

class CaptureSource final : public FrameSource {
 public:
  // Null with a reason ("WHAT: WHY") when the file cannot be opened or is not a capture.
  // filter: a capture filter expression (empty: none).
  static std::unique_ptr<CaptureSource> Open(const std::string& path, std::string& error,
                                             const std::string& filter = "");
  ~CaptureSource() override;

  bool Next(InputFrame& frame) override;
  uint64_t position() const override;
  int linkType() const { return m_linkType; }
  // Every frame read from now on is also written to `copy` (-w); null: none.
  void SetCopy(FrameWriter* copy) { m_copy = copy; }

 private:
  CaptureSource(pcap* handle, std::string name, int linkType);

  // Records of a classic pcap file read by this reader in large blocks and handed out where
  // they lie in the block (libpcap copies every byte twice); off when libpcap reads them.
  // swapped: the file's byte order is not this machine's (libpcap read its header).
  void ReadDirectly(int fd, uint64_t size, bool swapped);
  [[gnu::always_inline]] inline bool NextDirect(InputFrame& frame);
  // Makes the file's bytes [at, at + need) present in the block; false when they are not there.
  bool Load(uint64_t at, size_t need);
  // libpcap reads on from the direct reader's place.
  void StopDirect();
  [[gnu::always_inline]] inline bool Read(InputFrame& frame);

  pcap* m_pcap;
  std::string m_name;
  int m_linkType;
  char* m_buffer = nullptr;  // the file's read buffer (null: the stream's own)
  int m_fd = -1;             // the file read directly (-1: libpcap reads it)
  uint64_t m_fileEnd = 0;    // its size when opened: what lies past it is left to libpcap
  uint64_t m_at = 0;         // the next record's offset in the file
  std::unique_ptr<uint8_t[]> m_block;
  uint64_t m_blockAt = 0;  // the file offset of the block's first byte
  size_t m_blockLength = 0;
  bool m_swapped = false;
  FrameWriter* m_copy = nullptr;
  // The capture filter, run on each record here (not by libpcap) so that the records it passes
  // over are counted; null: none.
  bpf_program* m_filter = nullptr;
};

// Compiles the filter expression and sets it on the handle; false with the reason in `error`.
bool SetCaptureFilter(pcap* handle, const std::string& filter, std::string& error);
// Compiles the filter expression for the handle's link type into `program`; false with the
// reason in `error`.
bool CompileCaptureFilter(pcap* handle, const std::string& filter, bpf_program& program,
                          std::string& error);

// The frame libpcap read (`header`, `data`) as an input frame of `linkType`.
void FrameFromPcap(int linkType, const pcap_pkthdr& header, const uint8_t* data, InputFrame& frame);

// How messages name an input: its path, or "standard input" for "-".
std::string InputName(const std::string& path);
