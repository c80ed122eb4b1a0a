#include "input/frame_writer.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>

namespace {

// The longest record the copy may hold: the most libpcap reads.
constexpr int kCopySnapLength = 262144;

}  // namespace

std::unique_ptr<FrameWriter> FrameWriter::Open(const std::string& path, int linkType,
                                               bool flushEach, std::string& error) {
  pcap_t* dead = pcap_open_dead(linkType, kCopySnapLength);
  if (!dead) {
    error = path + ": cannot write link type " + std::to_string(linkType);
    return nullptr;
  }
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  if (!dumper) {
    // libpcap's reason names the file already ("FILE: why").
    const std::string why = pcap_geterr(dead);
    error = why.compare(0, path.size() + 2, path + ": ") == 0 ? why : path + ": " + why;
    pcap_close(dead);
    return nullptr;
  }
  return std::unique_ptr<FrameWriter>(new FrameWriter(dead, dumper, path, linkType, flushEach));
}

FrameWriter::~FrameWriter() {
  if (m_dumper) pcap_dump_close(m_dumper);
  if (m_dead) pcap_close(m_dead);
}

void FrameWriter::Write(const InputFrame& frame) {
  struct pcap_pkthdr header {};
  // Whole seconds rounded down, so that a time before 1970 keeps a positive fraction.
  int64_t seconds = frame.timeUs / 1000000;
  int64_t micros = frame.timeUs % 1000000;
  if (micros < 0) {
    seconds -= 1;
    micros += 1000000;
  }
  header.ts.tv_sec = static_cast<time_t>(seconds);
  header.ts.tv_usec = static_cast<suseconds_t>(micros);
  header.caplen = static_cast<bpf_u_int32>(frame.captured);
  header.len = static_cast<bpf_u_int32>(frame.wire);
  pcap_dump(reinterpret_cast<u_char*>(m_dumper), &header, frame.data);
  if (m_flushEach) pcap_dump_flush(m_dumper);
}

bool FrameWriter::Close(std::string& error) {
  if (!m_dumper) return true;
  FILE* file = pcap_dump_file(m_dumper);
  errno = 0;
  const bool flushed = pcap_dump_flush(m_dumper) == 0 && !std::ferror(file);
  const int flushError = errno;
  // pcap_dump_close closes the file; its own failure is seen through fclose's.
  pcap_dump_close(m_dumper);
  m_dumper = nullptr;
  if (flushed) return true;
  error = m_path + ": " + (flushError ? std::strerror(flushError) : "write error");
  return false;
}
