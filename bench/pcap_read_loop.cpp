// The floor under every view: a bare libpcap read loop over a capture file, touching each
// frame's bytes once (a sum, so the loop cannot be left out), as tdsdecode's capture reader
// reads them.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: pcap_read_loop CAPTURE\n", stderr);
    return 2;
  }
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = pcap_open_offline(argv[1], error);
  if (!pcap) {
    std::fprintf(stderr, "pcap_read_loop: %s\n", error);
    return 1;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  uint64_t frames = 0;
  uint64_t sum = 0;
  while (pcap_next_ex(pcap, &header, &data) == 1) {
    ++frames;
    for (uint32_t i = 0; i < header->caplen; ++i) sum += data[i];
  }
  pcap_close(pcap);
  std::printf("%llu frames, byte sum %llu\n", static_cast<unsigned long long>(frames),
              static_cast<unsigned long long>(sum));
  return 0;
}
