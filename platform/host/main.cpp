#include <malloc.h>

#include "app.h"

int main(int argc, char** argv) {
  // Large blocks (the display tree's arrays for a message of many small tokens, a long message's
  // bytes) are mapped and unmapped on their own rather than taken from the heap: glibc otherwise
  // raises this threshold as such blocks are freed and keeps their memory, so that a few large
  // messages leave the process tens of megabytes larger for the rest of its run.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  return RunTdsdecode(argc, argv);
}
