#include "input/frame_source.h"

#include <poll.h>

void FrameSource::HookIfIdle(FILE* file) {
  if (!m_streaming || !m_onWait || !file) return;
#ifdef __GLIBC__
  // Bytes already read into the stream's buffer: the next record may be there.
  if (file->_IO_read_ptr < file->_IO_read_end) return;
#endif
  pollfd p{fileno(file), POLLIN, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP))) return;
  m_onWait();
}
