// Ranges of constant bytes, and the caches of escaped texts taken from them.
#include "tdsengine/constant_text.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "constant_ranges.h"
#include "text_cache.h"

namespace {

struct Range {
  uintptr_t begin;
  uintptr_t end;
};

// A plug-in has a handful of read-only segments; this leaves room for several objects.
constexpr size_t kMaxRanges = 32;
Range g_ranges[kMaxRanges];
size_t g_rangeCount = 0;

// The caches built on the ranges (plain data, so usable before any constructor runs).
struct CacheHook {
  void (*clear)(void*);
  void* context;
};
constexpr size_t kMaxCaches = 8;
CacheHook g_caches[kMaxCaches];
size_t g_cacheCount = 0;

void ClearCaches() {
  for (size_t i = 0; i < g_cacheCount; ++i) g_caches[i].clear(g_caches[i].context);
}

bool AddRange(uintptr_t begin, uintptr_t end) {
  if (begin >= end) return false;
  for (size_t i = 0; i < g_rangeCount; ++i)
    if (g_ranges[i].begin == begin && g_ranges[i].end == end) return true;  // already known
  if (g_rangeCount == kMaxRanges) return false;
  g_ranges[g_rangeCount++] = Range{begin, end};
  // A text passed over as not constant before may be constant now.
  ClearCaches();
  return true;
}

struct ModuleSearch {
  uintptr_t address;
  bool found;
  bool added;
};

int VisitModule(struct dl_phdr_info* info, size_t /*size*/, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  bool holds = false;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
    if (search->address >= begin && search->address < begin + ph.p_memsz) holds = true;
  }
  if (!holds) return 0;
  search->found = true;
  search->added = true;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    const bool readOnly = ph.p_type == PT_LOAD && (ph.p_flags & PF_W) == 0;
    // The loader makes this part of a writable segment read-only once relocated: code tables
    // full of pointers live there.
    const bool relro = ph.p_type == PT_GNU_RELRO;
    if (!readOnly && !relro) continue;
    const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
    uintptr_t end = begin + ph.p_filesz;
    if (relro) {
      // Only whole pages are made read-only: a last partial page stays writable.
      const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
      end = page ? (begin + ph.p_memsz) / page * page : begin;
    }
    if (end > begin && !AddRange(begin, end)) search->added = false;
  }
  return 1;
}

}  // namespace

size_t ConstantSpan(const void* p) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  for (size_t i = 0; i < g_rangeCount; ++i)
    if (at >= g_ranges[i].begin && at < g_ranges[i].end) return g_ranges[i].end - at;
  return 0;
}

void OnConstantRangesChange(void (*clear)(void*), void* context) {
  if (g_cacheCount < kMaxCaches) g_caches[g_cacheCount++] = CacheHook{clear, context};
}

bool AddConstantModule(const void* address) {
  ModuleSearch search{reinterpret_cast<uintptr_t>(address), false, false};
  dl_iterate_phdr(VisitModule, &search);
  return search.found && search.added;
}

bool AddConstantRange(const void* begin, const void* end) {
  return AddRange(reinterpret_cast<uintptr_t>(begin), reinterpret_cast<uintptr_t>(end));
}

void ForgetConstantTexts() {
  g_rangeCount = 0;
  ClearCaches();
}

TextCache::TextCache(Escape escape) : m_escape(escape) {
  OnConstantRangesChange([](void* cache) { static_cast<TextCache*>(cache)->Clear(); }, this);
}

void TextCache::Clear() {
  for (Entry& e : m_slots) {
    e.key = nullptr;
    e.kept = false;
  }
}

const TextCache::Entry* TextCache::Fill(Entry& e, const char* s) {
  e.key = s;
  e.kept = false;
  const size_t span = ConstantSpan(s);
  if (span == 0) return nullptr;
  // The text must end inside the range; longer ones than an entry could hold are not kept.
  const size_t look = span < kRoom ? span : kRoom;
  const void* nul = std::memchr(s, 0, look);
  if (!nul) return nullptr;
  const size_t length = static_cast<size_t>(static_cast<const char*>(nul) - s);
  const size_t size = m_escape(s, length, e.text, kRoom);
  if (size > kRoom) return nullptr;
  e.size = static_cast<uint32_t>(size);
  e.kept = true;
  return &e;
}
