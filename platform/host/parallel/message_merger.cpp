#include "parallel/message_merger.h"

#include <cstring>
#include <string_view>

bool MessageMerger::Take(unsigned w, RecordMark& mark) {
  WorkerChannel& c = *m_run.channel(w);
  State& s = m_state[w];
  const uint64_t end = mark.end.load(std::memory_order_acquire);
  const uint64_t head = DataHead(w, end);
  if (s.tail < mark.start) s.tail = mark.start;  // nothing goes between records; never skips
  bool took = false;
  if (!s.numbered) {
    Number(mark);
    s.numbered = true;
    took = true;
  }
  const uint64_t until = end < head ? end : head;
  if (s.tail < until) {
    // One piece, however it lies in the ring (the ring is mapped twice in a row).
    Queue(c.at(s.tail), static_cast<size_t>(until - s.tail));
    s.tail = until;
    took = true;
  }
  if (end != kOpenEnd && s.tail >= end) {
    ++s.markTail;
    s.numbered = false;
    took = true;
  }
  if (m_count >= kMaxPieces - 2) Flush();
  return took;
}

void MessageMerger::Number(const RecordMark& mark) {
  const uint64_t key = uint64_t(mark.conn) << 1 | ((mark.flags & kMarkServer) ? 1 : 0);
  uint64_t number;
  if (mark.flags & kMarkNewNumber) {
    number = ++m_messages;
    if (!(mark.flags & kMarkLastPart)) m_inParts[key] = number;
  } else {
    auto it = m_inParts.find(key);
    number = it != m_inParts.end() ? it->second : ++m_messages;
    if ((mark.flags & kMarkLastPart) && it != m_inParts.end()) m_inParts.erase(it);
  }
  if (m_count == kMaxPieces) Flush();
  // The lead and the number, written backwards from the end of the piece's room.
  char* const end = m_numbers[m_count] + kNumberRoom;
  char* at = end;
  do {
    *--at = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  const std::string_view lead = m_json ? std::string_view("{\"message\": ") : "Message ";
  at -= lead.size();
  std::memcpy(at, lead.data(), lead.size());
  Queue(at, static_cast<size_t>(end - at));
}

void MessageMerger::Flush() {
  if (!m_out.failed()) {
    const int error = WriteOut(m_pieces, m_count);
    if (error) {
      m_out.fail(error);
      m_run.stop.store(1);
    }
  }
  m_count = 0;
  GiveRoom();
}
