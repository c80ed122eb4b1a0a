// The message view's merge: writes the workers' records to standard output in event order,
// numbering the messages as one worker would have.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "parallel/merge_loop.h"
#include "tdsengine/out_buffer.h"

class MessageMerger : public MergeLoop {
 public:
  MessageMerger(SharedRun& run, const std::vector<pid_t>& pids, bool json, OutBuffer& out)
      : MergeLoop(run, pids), m_json(json), m_out(out) {}

 private:
  bool Take(unsigned w, RecordMark& mark) override;

  // The record's number: the next one for a record that starts a message, else that of the
  // message its direction is in the middle of.
  void Number(const RecordMark& mark);

  void Queue(const char* data, size_t size) {
    if (m_count == kMaxPieces) Flush();
    m_pieces[m_count].iov_base = const_cast<char*>(data);
    m_pieces[m_count].iov_len = size;
    ++m_count;
  }

  // Writes the queued pieces, then gives their room back to the workers.
  void Flush() override;

  static constexpr size_t kMaxPieces = 64;
  static constexpr size_t kNumberRoom = 40;

  bool m_json;
  OutBuffer& m_out;
  uint64_t m_messages = 0;
  std::unordered_map<uint64_t, uint64_t> m_inParts;  // (conn, dir) of messages shown in parts
  struct iovec m_pieces[kMaxPieces];
  char m_numbers[kMaxPieces][kNumberRoom];
  size_t m_count = 0;
};
