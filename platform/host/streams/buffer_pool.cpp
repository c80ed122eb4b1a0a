#include "streams/buffer_pool.h"

namespace {

struct Pool {
  std::vector<uint8_t> free[kPooledBuffers];
  size_t count = 0;
};

// One pool per thread: every direction a thread decodes shares it.
Pool& ThePool() {
  static thread_local Pool pool;
  return pool;
}

}  // namespace

void TakePooledBuffer(std::vector<uint8_t>& buffer) {
  Pool& pool = ThePool();
  if (pool.count == 0 || buffer.capacity() > 0) return;
  buffer.swap(pool.free[--pool.count]);
}

void GivePooledBuffer(std::vector<uint8_t>& buffer) {
  buffer.clear();
  if (buffer.capacity() == 0) return;
  Pool& pool = ThePool();
  if (pool.count < kPooledBuffers && buffer.capacity() <= kPooledBufferBytes) {
    pool.free[pool.count++].swap(buffer);
    return;
  }
  std::vector<uint8_t>().swap(buffer);
}
