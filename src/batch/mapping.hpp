#pragma once
// Memory for the large blocks of one batch, mapped from the system directly so that it goes
// back whole when the block is unmapped, whatever the heaps hold.
//
// A block of some megabytes is asked for in huge pages where the system offers them: the
// threads of a batch then fill it with a handful of page faults instead of one per 4 KiB page.
// Page faults taken by many threads of one process at once are what a batch on threads pays
// for and separate processes do not (they share the process's memory map), and on some
// virtual machines each fault costs many microseconds.
#include <cstddef>

namespace tessary::batch {

// A zero-filled block of at least `bytes` bytes (not 0). Throws std::bad_alloc.
void* map_block(std::size_t bytes);

// Unmaps a block from map_block with the same `bytes`.
void unmap_block(void* block, std::size_t bytes) noexcept;

}  // namespace tessary::batch
