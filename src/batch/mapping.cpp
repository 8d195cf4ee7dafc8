#include "batch/mapping.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

namespace tessary::batch {

namespace {

// The size of a huge page on x86-64 and most other 64-bit systems; where it differs, the
// alignment is merely unhelpful.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t page_bytes() noexcept {
  static const std::size_t page = [] {
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
  }();
  return page;
}

std::size_t round_up(std::size_t n, std::size_t unit) noexcept {
  return (n + unit - 1) / unit * unit;
}

// The length of the mapping for `bytes`: whole pages, or whole huge pages for a large block.
std::size_t mapped_bytes(std::size_t bytes) noexcept {
  return bytes >= kHugePage ? round_up(bytes, kHugePage) : round_up(bytes, page_bytes());
}

}  // namespace

void* map_block(std::size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX / 2) throw std::bad_alloc();
  const std::size_t size = mapped_bytes(bytes);
  if (size < kHugePage) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    return memory;
  }
  // A huge page must start on a multiple of its size: map one huge page more than needed and
  // unmap the stretches before and after the aligned block.
  void* reserved =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(reserved);
  const std::uintptr_t aligned = round_up(start, kHugePage);
  if (aligned != start) munmap(reserved, aligned - start);
  const std::uintptr_t end = start + size + kHugePage;
  if (end != aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  void* block = reinterpret_cast<void*>(aligned);
  // Advice only: without huge pages the block works all the same.
  madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void unmap_block(void* block, std::size_t bytes) noexcept { munmap(block, mapped_bytes(bytes)); }

}  // namespace tessary::batch
