// SIGINT and SIGTERM stop reading: the read loop asks StopRequested() between records, and a
// live capture waiting for frames is woken through pcap_breakloop.
#pragma once

struct pcap;

// Installs the handlers (without SA_RESTART, so a blocked read returns).
void InstallStopHandlers();
bool StopRequested();
// The live capture the handler breaks out of (null: none).
void SetStopTarget(pcap* handle);
