#include "input/live_source.h"

#include <pcap/pcap.h>

#include "input/capture_reader.h"
#include "input/link_layer.h"
#include "input/stop_signal.h"

namespace {

// How long libpcap waits before reporting no frames, so that a stop is seen.
constexpr int kTimeoutMs = 100;

std::string Why(pcap_t* handle, int status) {
  const char* text = pcap_geterr(handle);
  if (text && *text) return text;
  return pcap_statustostr(status);
}

}  // namespace

std::unique_ptr<LiveSource> LiveSource::Open(const std::string& iface, const std::string& filter,
                                             const std::string& writeFile, std::string& error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(iface.c_str(), errbuf);
  if (!handle) {
    error = iface + ": " + errbuf;
    return nullptr;
  }
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, 0);
  pcap_set_timeout(handle, kTimeoutMs);
  pcap_set_immediate_mode(handle, 1);
  const int status = pcap_activate(handle);
  if (status < 0) {
    error = iface + ": " + Why(handle, status);
    pcap_close(handle);
    return nullptr;
  }
  const int linkType = pcap_datalink(handle);
  if (!LinkTypeSupported(linkType)) {
    error = iface + ": link type " + std::to_string(linkType) + " is not supported";
    pcap_close(handle);
    return nullptr;
  }
  if (!filter.empty() && !SetCaptureFilter(handle, filter, error)) {
    pcap_close(handle);
    return nullptr;
  }
  std::unique_ptr<LiveSource> source(new LiveSource(handle, iface, linkType));
  if (!writeFile.empty()) {
    source->m_copy = FrameWriter::Open(writeFile, linkType, true, error);
    if (!source->m_copy) return nullptr;
  }
  source->m_streaming = true;
  SetStopTarget(handle);
  return source;
}

LiveSource::LiveSource(pcap* handle, std::string name, int linkType)
    : m_pcap(handle), m_name(std::move(name)), m_linkType(linkType) {}

LiveSource::~LiveSource() {
  SetStopTarget(nullptr);
  if (m_pcap) pcap_close(m_pcap);
}

bool LiveSource::Next(InputFrame& frame) {
  if (!m_error.empty()) return false;
  for (;;) {
    if (StopRequested()) return false;
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int r = pcap_next_ex(m_pcap, &header, &data);
    if (r == 1) {
      FrameFromPcap(m_linkType, *header, data, frame);
      if (m_copy) m_copy->Write(frame);
      return true;
    }
    if (r == 0) {  // the timeout: nothing arrived
      if (m_onWait) m_onWait();
      continue;
    }
    if (r == PCAP_ERROR_BREAK || StopRequested()) return false;
    m_error = m_name + ": " + Why(m_pcap, r);
    return false;
  }
}

bool ListInterfaces(FILE* out, std::string& error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    error = std::string("interfaces: ") + errbuf;
    return false;
  }
  int n = 0;
  for (pcap_if_t* d = all; d; d = d->next) {
    std::fprintf(out, "%d.%s", ++n, d->name);
    if (d->description) std::fprintf(out, " (%s)", d->description);
    std::fputc('\n', out);
  }
  pcap_freealldevs(all);
  return true;
}
