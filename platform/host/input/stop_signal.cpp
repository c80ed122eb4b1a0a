#include "input/stop_signal.h"

#include <pcap/pcap.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t g_stop = 0;
pcap_t* volatile g_target = nullptr;

void OnStop(int) {
  g_stop = 1;
  pcap_t* target = g_target;
  if (target) pcap_breakloop(target);
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return g_stop != 0;
}

void SetStopTarget(pcap* handle) {
  g_target = handle;
}
