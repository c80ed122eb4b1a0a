// What the fuzz targets share: a sink for rendered output, a ledger of conversation-store
// blocks that must each be released exactly once, and checks on a frame's display tree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tdsengine/display_tree.h"
#include "tdsengine/out_buffer.h"

// Stops the run so libFuzzer reports the input.
[[noreturn]] void FuzzFail(const char* what);

// Rendered output goes here and is thrown away.
OutBuffer& DiscardOut();

// Watches the store while alive: every block handed over with a release callback must come
// back through that callback once, and none may come back that was not handed over.
class ReleaseLedger {
 public:
  ReleaseLedger();
  ~ReleaseLedger();
  ReleaseLedger(const ReleaseLedger&) = delete;
  ReleaseLedger& operator=(const ReleaseLedger&) = delete;

  size_t live() const;
  uint64_t handed() const;
  // Fails the run when a block is still unreleased.
  void ExpectAllReleased() const;
};

// Every field recorded lies inside the frame the tree was begun with.
void CheckTree(const DisplayTree& tree);

// Renders the tree both ways into DiscardOut().
void RenderBoth(const DisplayTree& tree, uint32_t conn, bool clientToServer, int32_t result,
                int32_t tdsBytes);

// The plug-in's packet entry, linked in.
extern "C" int32_t sybasetds_parse(const uint8_t* frame, CPDecode* tree, int32_t spare,
                                   const uint8_t** cursor, int32_t remaining, int32_t offset);
