// One direction of a connection in the request log: its bytes assembled into messages, each
// stamped with the frames (and their capture times) that brought its first and last byte, and
// handed to the request view. Both directions of a connection live in the request tracker's
// record of it, so an open connection is one allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "message_assembler.h"
#include "stream_piece.h"

class RequestView;

class RequestDirection : public DirectionSink {
 public:
  RequestDirection(RequestView& view, AssemblerCounters& counters, uint32_t conn,
                   bool clientToServer, bool midStream);

  void Deliver(const StreamPiece& piece) override;
  void Gap(const StreamPiece& context) override;
  void End(uint64_t frame) override;
  void CutForMemory() override { m_assembler.CutForMemory(); }
  size_t HeldBytes() const override { return m_assembler.heldCapacity(); }

 private:
  // Hands the assembled messages to the view; made for each call (the direction then carries
  // one table pointer rather than two).
  class Walker;

  RequestView& m_view;
  uint32_t m_conn;
  bool m_c2s;
  MessageAssembler m_assembler;
};

// Room for a connection's two directions, each made when the connection table opens it and
// ended with the record that holds the pair.
class RequestDirections {
 public:
  RequestDirections() = default;
  ~RequestDirections() {
    for (int dir = 0; dir < 2; ++dir) Close(dir);
  }
  RequestDirections(const RequestDirections&) = delete;
  RequestDirections& operator=(const RequestDirections&) = delete;

  // dir 0: client to server; 1: server to client. A direction open already is made anew.
  RequestDirection* Open(int dir, RequestView& view, AssemblerCounters& counters, uint32_t conn,
                         bool midStream) {
    Close(dir);
    RequestDirection* d =
        new (m_storage[dir]) RequestDirection(view, counters, conn, dir == 0, midStream);
    m_open[dir] = true;
    return d;
  }

 private:
  void Close(int dir) {
    if (!m_open[dir]) return;
    std::launder(reinterpret_cast<RequestDirection*>(m_storage[dir]))->~RequestDirection();
    m_open[dir] = false;
  }

  alignas(RequestDirection) unsigned char m_storage[2][sizeof(RequestDirection)];
  bool m_open[2] = {false, false};
};
