// Byte buffers lent to the stream directions that hold bytes for a while (a packet spread over
// segments, a message spread over packets) and given back when those bytes are handed on: an
// idle direction holds no buffer, and a busy one allocates none once the pool is warm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What the pool keeps: at most this many free buffers, none larger than this (a larger one is
// freed when given back), so it holds at most 2 MiB.
constexpr size_t kPooledBuffers = 32;
constexpr size_t kPooledBufferBytes = 64 * 1024;

// Gives `buffer` (empty, without storage) the storage of a free buffer, if there is one.
void TakePooledBuffer(std::vector<uint8_t>& buffer);
// Empties `buffer` and takes its storage back; `buffer` is left without storage.
void GivePooledBuffer(std::vector<uint8_t>& buffer);
