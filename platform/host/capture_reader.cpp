#include "capture_reader.h"

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link_layer.h"
#include "stop_signal.h"

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
constexpr size_t kReadBuffer = 1 << 20;

// The file opened for libpcap with a read buffer of kReadBuffer (owned by the caller from then
// on, freed after the stream is closed); null when that fails, and the caller opens the file the
// ordinary way so that libpcap words the error.
pcap_t* OpenBuffered(const std::string& path, char* errbuf, char** buffer, int* openError) {
  *buffer = nullptr;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *openError = errno;
    return nullptr;
  }
  // glibc takes a null buffer as "pick your own size", so the buffer is a real one.
  char* storage = static_cast<char*>(std::malloc(kReadBuffer));
  if (storage && std::setvbuf(file, storage, _IOFBF, kReadBuffer) != 0) {
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

bool SetCaptureFilter(pcap* handle, const std::string& filter, std::string& error) {
  struct bpf_program program;
  if (pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
    error = "filter '" + filter + "': " + pcap_geterr(handle);
    return false;
  }
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
                               : OpenBuffered(path, errbuf, &buffer, &openError);
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
  if (!filter.empty() && !SetCaptureFilter(handle, filter, error)) {
    pcap_close(handle);
    std::free(buffer);
    return nullptr;
  }
  std::unique_ptr<CaptureSource> source(new CaptureSource(handle, name, linkType));
  source->m_buffer = buffer;
  struct stat st;
  FILE* file = pcap_file(handle);
  const bool regular = file && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
  if (regular && path != "-") source->m_size = static_cast<uint64_t>(st.st_size);
  source->m_streaming = !regular;
  return source;
}

CaptureSource::CaptureSource(pcap* handle, std::string name, int linkType)
    : m_pcap(handle), m_name(std::move(name)), m_linkType(linkType) {}

CaptureSource::~CaptureSource() {
  if (m_pcap) pcap_close(m_pcap);
  std::free(m_buffer);  // the stream that read through it is closed
}

uint64_t CaptureSource::position() const {
  FILE* f = pcap_file(m_pcap);
  if (!f) return 0;
  const long at = ftell(f);
  return at > 0 ? static_cast<uint64_t>(at) : 0;
}

bool CaptureSource::Next(InputFrame& frame) {
  if (!m_error.empty()) return false;
  HookIfIdle(pcap_file(m_pcap));
  for (;;) {
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int r = pcap_next_ex(m_pcap, &header, &data);
    if (r == 1) {
      frame = InputFrame();
      frame.linkType = m_linkType;
      frame.data = data;
      frame.captured = header->caplen;
      frame.wire = header->len;
      frame.timeUs = Microseconds(header->ts);
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
