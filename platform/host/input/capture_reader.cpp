#include "input/capture_reader.h"

#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "input/frame_writer.h"
#include "input/link_layer.h"
#include "input/stop_signal.h"

namespace {

// pcapng records carry 64-bit timestamps, so a damaged file can name any second; seconds are
// held to about 35,000 years either way so that microseconds, and differences of two capture
// times, stay within 64 bits.
constexpr int64_t kMaxSeconds = int64_t(1) << 40;

int64_t Microseconds(const struct timeval& ts) {
  int64_t sec = static_cast<int64_t>(ts.tv_sec);
  if (sec > kMaxSeconds) sec = kMaxSeconds;
  if (sec < -kMaxSeconds) sec = -kMaxSeconds;
  return sec * 1000000 + static_cast<int64_t>(ts.tv_usec);
}

// libpcap reads a file through its stdio buffer, 4 KB by default: a call of read() per 4 KB.
// A file whose records this reader reads itself (below) gets the small buffer: libpcap reads
// only its header through it, and a large one would be filled, and kept, for nothing.
constexpr size_t kReadBuffer = 1 << 20;
constexpr size_t kHeaderReadBuffer = 4096;

// Classic pcap with microsecond times: the file header, a record header; the longest record
// libpcap reads as it is for any link type (longer ones it cuts or refuses: libpcap reads
// those). The records are read in blocks of kBlockBytes, each one holding the longest record.
// (A mapping of the file would cost more: the page cache may hold it in 2 MiB folios, which a
// mapping takes whole, in every worker.)
constexpr uint32_t kPcapMagic = 0xa1b2c3d4;
constexpr uint64_t kFileHeader = 24;
constexpr uint64_t kRecordHeader = 16;
constexpr uint32_t kPlainRecord = 262144;
constexpr size_t kBlockBytes = size_t(512) << 10;

uint32_t Word(const uint8_t* p, bool swapped) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return swapped ? __builtin_bswap32(v) : v;
}

// Whether the open file begins as a classic pcap file of version 2.4 does (either byte order).
bool ClassicPcap(FILE* file) {
  uint8_t head[8];
  if (pread(fileno(file), head, sizeof(head), 0) != static_cast<ssize_t>(sizeof(head)))
    return false;
  const uint32_t magic = Word(head, false);
  if (magic != kPcapMagic && magic != __builtin_bswap32(kPcapMagic)) return false;
  const uint32_t version = Word(head + 4, magic != kPcapMagic);
  // major in the first two bytes, minor in the next, each in the file's order
  return version == (magic != kPcapMagic ? 0x00020004u : 0x00040002u);
}

// The file opened for libpcap with a read buffer of kReadBuffer, or kHeaderReadBuffer when its
// records this reader may read itself (`direct`: no filter); the buffer is owned by the caller
// from then on, freed after the stream is closed. Null when that fails, and the caller opens
// the file the ordinary way so that libpcap words the error.
pcap_t* OpenBuffered(const std::string& path, bool direct, char* errbuf, char** buffer,
                     int* openError) {
  *buffer = nullptr;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *openError = errno;
    return nullptr;
  }
  const size_t size = direct && ClassicPcap(file) ? kHeaderReadBuffer : kReadBuffer;
  // glibc takes a null buffer as "pick your own size", so the buffer is a real one.
  char* storage = static_cast<char*>(std::malloc(size));
  if (storage && std::setvbuf(file, storage, _IOFBF, size) != 0) {
    std::free(storage);
    storage = nullptr;
  }
  pcap_t* handle = pcap_fopen_offline(file, errbuf);
  if (!handle) {
    std::fclose(file);  // libpcap leaves the stream open when it refuses it
    std::free(storage);
    return nullptr;
  }
  *buffer = storage;
  return handle;
}

}  // namespace

std::string InputName(const std::string& path) {
  return path == "-" ? "standard input" : path;
}

bool CompileCaptureFilter(pcap* handle, const std::string& filter, bpf_program& program,
                          std::string& error) {
  if (pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0) return true;
  error = "filter '" + filter + "': " + pcap_geterr(handle);
  return false;
}

bool SetCaptureFilter(pcap* handle, const std::string& filter, std::string& error) {
  struct bpf_program program;
  if (!CompileCaptureFilter(handle, filter, program, error)) return false;
  const int r = pcap_setfilter(handle, &program);
  pcap_freecode(&program);
  if (r != 0) {
    error = "filter '" + filter + "': " + pcap_geterr(handle);
    return false;
  }
  return true;
}

std::unique_ptr<CaptureSource> CaptureSource::Open(const std::string& path, std::string& error,
                                                   const std::string& filter) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  const std::string name = InputName(path);
  char* buffer = nullptr;
  int openError = 0;
  pcap_t* handle = path == "-" ? pcap_fopen_offline(stdin, errbuf)
                               : OpenBuffered(path, filter.empty(), errbuf, &buffer, &openError);
  if (!handle && openError != 0) {
    // The file itself cannot be opened: the system's reason, without the name again.
    error = name + ": " + std::strerror(openError);
    return nullptr;
  }
  if (!handle && path != "-") {
    errbuf[0] = '\0';
    handle = pcap_open_offline(path.c_str(), errbuf);
  }
  if (!handle) {
    error = name + ": " + (errbuf[0] ? errbuf : "cannot be read as a capture");
    return nullptr;
  }
  const int linkType = pcap_datalink(handle);
  if (!LinkTypeSupported(linkType)) {
    const char* dltName = pcap_datalink_val_to_name(linkType);
    error = name + ": link type " + std::to_string(linkType) + (dltName ? " (" : "") +
            (dltName ? dltName : "") + (dltName ? ")" : "") + " is not supported";
    pcap_close(handle);
    std::free(buffer);
    return nullptr;
  }
  std::unique_ptr<bpf_program> program;
  if (!filter.empty()) {
    program.reset(new bpf_program());
    if (!CompileCaptureFilter(handle, filter, *program, error)) {
      pcap_close(handle);
      std::free(buffer);
      return nullptr;
    }
  }
  std::unique_ptr<CaptureSource> source(new CaptureSource(handle, name, linkType));
  source->m_buffer = buffer;
  source->m_filter = program.release();
  struct stat st;
  FILE* file = pcap_file(handle);
  const bool regular = file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
  if (regular && path != "-") source->m_size = static_cast<uint64_t>(st.st_size);
  source->m_streaming = !regular;
  // The records of a classic pcap file are read by this reader: libpcap copies every byte twice
  // (from the system into the stream's buffer, from there into its own).
  if (regular && path != "-" && pcap_major_version(handle) == 2 &&
      pcap_minor_version(handle) == 4 &&
      pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_MICRO)
    source->ReadDirectly(fileno(file), static_cast<uint64_t>(st.st_size),
                         pcap_is_swapped(handle) == 1);
  return source;
}

void CaptureSource::ReadDirectly(int fd, uint64_t size, bool swapped) {
  if (size < kFileHeader) return;
  m_block.reset(new (std::nothrow) uint8_t[kBlockBytes]);
  if (!m_block) return;
  m_fd = fd;
  m_fileEnd = size;
  m_swapped = swapped;
  m_at = kFileHeader;
}

bool CaptureSource::Load(uint64_t at, size_t need) {
  if (at >= m_blockAt && at + need <= m_blockAt + m_blockLength) return true;
  if (need > kBlockBytes || m_fileEnd - at < need) return false;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, m_fileEnd - at));
  size_t got = 0;
  while (got < want) {
    const ssize_t n = pread(m_fd, m_block.get() + got, want - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  m_blockAt = at;
  m_blockLength = got;
  return got >= need;
}

void CaptureSource::StopDirect() {
  if (m_fd < 0) return;
  m_fd = -1;
  m_block.reset();
  m_blockLength = 0;
  // libpcap's stream goes on from the record the direct reader did not take.
  std::fseek(pcap_file(m_pcap), static_cast<long>(m_at), SEEK_SET);
}

// As libpcap reads a record it takes as it is; anything else (a record cut short, a longer
// one, the end of a file that may still grow) is left to libpcap, from that record on.
inline bool CaptureSource::NextDirect(InputFrame& frame) {
  // The usual case first: the record lies whole in the block already read (which never
  // reaches past m_fileEnd). m_at never falls before the block.
  const uint64_t inBlock = m_at - m_blockAt;
  const uint64_t left = inBlock <= m_blockLength ? m_blockLength - inBlock : 0;
  const uint8_t* h = nullptr;
  uint32_t caplen = 0;
  if (left >= kRecordHeader &&
      (caplen = Word(m_block.get() + inBlock + 8, m_swapped)) <= left - kRecordHeader &&
      caplen <= kPlainRecord) {
    h = m_block.get() + inBlock;
  } else {
    if (m_fileEnd - m_at < kRecordHeader || !Load(m_at, kRecordHeader)) return false;
    caplen = Word(m_block.get() + (m_at - m_blockAt) + 8, m_swapped);
    if (caplen > kPlainRecord || m_fileEnd - m_at - kRecordHeader < caplen ||
        !Load(m_at, kRecordHeader + caplen))
      return false;
    h = m_block.get() + (m_at - m_blockAt);  // the block may have moved
  }
  struct timeval ts {};
  // libpcap reads both times as signed 32-bit numbers.
  ts.tv_sec = static_cast<int32_t>(Word(h, m_swapped));
  ts.tv_usec = static_cast<int32_t>(Word(h + 4, m_swapped));
  frame.linkType = m_linkType;
  frame.data = h + kRecordHeader;
  frame.captured = caplen;
  frame.wire = Word(h + 12, m_swapped);
  frame.timeUs = Microseconds(ts);
  frame.hasHint = false;
  m_at += kRecordHeader + caplen;
  return true;
}

CaptureSource::CaptureSource(pcap* handle, std::string name, int linkType)
    : m_pcap(handle), m_name(std::move(name)), m_linkType(linkType) {}

CaptureSource::~CaptureSource() {
  if (m_filter) pcap_freecode(m_filter);
  delete m_filter;
  if (m_pcap) pcap_close(m_pcap);
  std::free(m_buffer);  // the stream that read through it is closed
}

uint64_t CaptureSource::position() const {
  if (m_fd >= 0) return m_at;
  FILE* f = pcap_file(m_pcap);
  if (!f) return 0;
  const long at = ftell(f);
  return at > 0 ? static_cast<uint64_t>(at) : 0;
}

void FrameFromPcap(int linkType, const pcap_pkthdr& header, const uint8_t* data,
                   InputFrame& frame) {
  frame = InputFrame();
  frame.linkType = linkType;
  frame.data = data;
  frame.captured = header.caplen;
  frame.wire = header.len;
  frame.timeUs = Microseconds(header.ts);
}

inline bool CaptureSource::Read(InputFrame& frame) {
  if (!m_error.empty()) return false;
  if (m_fd >= 0) {
    if (NextDirect(frame)) return true;
    StopDirect();
  }
  HookIfIdle(pcap_file(m_pcap));
  for (;;) {
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int r = pcap_next_ex(m_pcap, &header, &data);
    if (r == 1) {
      FrameFromPcap(m_linkType, *header, data, frame);
      return true;
    }
    if (r == 0) continue;  // only live captures time out
    if (r == PCAP_ERROR_BREAK) return false;
    if (StopRequested()) return false;  // a read cut by SIGINT or SIGTERM is no damage
    const char* why = pcap_geterr(m_pcap);
    m_error = m_name + ": " + (why && *why ? why : "damaged capture");
    return false;
  }
}

bool CaptureSource::Next(InputFrame& frame) {
  if (!m_filter && !m_copy) return Read(frame);  // filteredBefore stays 0
  uint64_t filtered = 0;
  while (Read(frame)) {
    if (m_filter) {
      struct pcap_pkthdr header {};
      header.caplen = static_cast<bpf_u_int32>(frame.captured);
      header.len = static_cast<bpf_u_int32>(frame.wire);
      if (pcap_offline_filter(m_filter, &header, frame.data) == 0) {
        ++filtered;
        continue;
      }
    }
    frame.filteredBefore = filtered;
    if (m_copy) m_copy->Write(frame);
    return true;
  }
  return false;
}
