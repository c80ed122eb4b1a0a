// One direction of a connection in the request log: its bytes assembled into messages, each
// stamped with the frames (and their capture times) that brought its first and last byte, and
// handed to the request view. Both directions of a connection live in the request tracker's
// record of it, so an open connection is one allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "streams/message_assembler.h"
#include "streams/stream_piece.h"

class RequestView;

class RequestDirection : public DirectionSink {
 public:
  RequestDirection(AssemblerCounters& counters, uint32_t conn, bool clientToServer, bool midStream);

  void Deliver(const StreamPiece& piece) override;
  void Gap(const StreamPiece& context) override;
  void End(uint64_t frame) override;
  void CutForMemory() override { m_assembler.CutForMemory(); }
  size_t HeldBytes() const override { return m_assembler.heldCapacity(); }

 private:
  // Hands the assembled messages to the view; made for each call (the direction then carries
  // one table pointer rather than two).
  class Walker;
  // The view, kept once for both directions by the pair that holds this one.
  RequestView& View() const;

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
    m_view = &view;
    RequestDirection* d =
        new (m_storage[dir]) RequestDirection(counters, conn, dir == 0, midStream);
    m_open[dir] = true;
    return d;
  }

  // The view of a direction this pair holds (dir: its place in the pair).
  static RequestView& ViewOf(const RequestDirection* direction, int dir) {
    static_assert(std::is_standard_layout<RequestDirections>::value, "the pair is found by offset");
    const unsigned char* storage = reinterpret_cast<const unsigned char*>(direction) -
                                   static_cast<size_t>(dir) * sizeof(RequestDirection);
    const auto* pair = reinterpret_cast<const RequestDirections*>(
        storage - offsetof(RequestDirections, m_storage));
    return *pair->m_view;
  }

 private:
  void Close(int dir) {
    if (!m_open[dir]) return;
    std::launder(reinterpret_cast<RequestDirection*>(m_storage[dir]))->~RequestDirection();
    m_open[dir] = false;
  }

  RequestView* m_view = nullptr;
  alignas(RequestDirection) unsigned char m_storage[2][sizeof(RequestDirection)];
  bool m_open[2] = {false, false};
};
