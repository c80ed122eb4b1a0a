// The engine's side of constant_text.h: where the registered constant ranges are, and the
// caches built on them, which are cleared whenever the ranges change.
#pragma once

#include <cstddef>
#include <cstdint>

// How many bytes from p on lie inside one registered range; 0 when p is in none.
size_t ConstantSpan(const void* p);

// Whether [p, p + size) lies inside one registered range.
inline bool IsConstant(const void* p, size_t size) {
  const size_t span = ConstantSpan(p);
  return span != 0 && span >= size;
}

// Runs clear(context) whenever a range is added or the ranges are forgotten. For caches with
// static storage; a handful at most.
void OnConstantRangesChange(void (*clear)(void*), void* context);

struct CPICodeTable;

// PIgetInterpretationString for the engine's own callers: the row of a table (rows > 0) that
// interprets the value, from the cache of rows of constant tables.
int FindTableRow(const CPICodeTable* table, int32_t rows, uint32_t value);
