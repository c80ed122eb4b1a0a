// Requests waiting behind an earlier one, packed: the tracker keeps a few whole and the rest
// as bytes (RequestTracker::Packed), several times smaller.
#pragma once

#include <cstdint>
#include <memory>

#include "requests/request_log.h"

// A packed request: this header, the request's shared parts (its connection, its parameter
// names when it has them, and the columns of each result set) in `shared` slots, then its other
// fields as bytes: numbers as variable-length integers, frames and times as differences from
// the request's first, flags gathered in bytes.
struct RequestTracker::Packed {
  uint64_t firstFrame = 0;
  uint32_t conn = 0;
  uint32_t shared = 0;  // slots
  uint32_t bytes = 0;
  bool complete = false;
  bool held = false;
  bool cancelled = false;
  bool paramNames = false;  // the second slot holds the parameter names
  // A login whose user, host and application are its connection's: they are left out, and
  // taken from the connection when unpacked. Only the connection's latest request is packed
  // so, while no later login can change what the connection says (ReleaseLast packs it whole
  // unless the connection ends).
  bool loginFromConnection = false;

  using Slot = std::shared_ptr<const void>;
  Slot* slots() { return reinterpret_cast<Slot*>(this + 1); }
  uint8_t* data() { return reinterpret_cast<uint8_t*>(slots() + shared); }
};

static_assert(sizeof(RequestTracker::Packed) % alignof(std::shared_ptr<const void>) == 0,
              "slots follow the header aligned");

// Packs a request; its shared parts move into the packed one. dedupe: a login's names that are
// its connection's are left out.
RequestTracker::PackedPtr Pack(Request& r, bool dedupe);
// A packed request whole again in `r` (as Reset leaves it).
void Unpack(RequestTracker::Packed& p, Request& r);
