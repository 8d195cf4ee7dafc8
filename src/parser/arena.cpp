#include "parser/arena.hpp"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tessary {
namespace {

// The first block of an arena. A typical query's tree fits in it, and each thread keeps one such
// block that an arena let go for the next arena it makes, so that most parses take no block from
// the heap.
constexpr std::size_t kFirstBlock = std::size_t{8} << 10;
// Later blocks double up to this size; a request larger than that gets a block of its own size.
// Blocks this large are mapped by the allocator apart from its heap, and so go back to the system
// when the tree goes.
constexpr std::size_t kLargestBlock = std::size_t{1} << 20;

constexpr std::size_t kHeader = 16;  // room of a block header, keeping the rest 16-aligned

struct SpareBlock {
  void* block = nullptr;
  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() { std::free(block); }
};
thread_local SpareBlock t_spare;
thread_local Arena* t_building = nullptr;

}  // namespace

static_assert(sizeof(void*) * 2 <= kHeader);

Arena::~Arena() {
  for (Block* block = last_; block != nullptr;) {
    Block* previous = block->previous;
    if (block->size == kFirstBlock && t_spare.block == nullptr) {
      t_spare.block = block;
    } else {
      std::free(block);
    }
    block = previous;
  }
}

void* Arena::allocate_in_new_block(std::size_t bytes, std::size_t align) {
  if (bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  const std::size_t needed = kHeader + bytes + align;
  std::size_t size = last_ == nullptr ? kFirstBlock : std::min(2 * last_->size, kLargestBlock);
  size = std::max(size, needed);
  void* memory = nullptr;
  if (size == kFirstBlock && t_spare.block != nullptr) {
    memory = std::exchange(t_spare.block, nullptr);
  } else {
    memory = std::malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
  }
  auto* block = static_cast<Block*>(memory);
  block->previous = last_;
  block->size = size;
  last_ = block;
  reserved_ += size;
  next_ = reinterpret_cast<std::uintptr_t>(memory) + kHeader;
  end_ = reinterpret_cast<std::uintptr_t>(memory) + size;
  const std::uintptr_t at = (next_ + (align - 1)) & ~std::uintptr_t{align - 1};
  next_ = at + bytes;
  return reinterpret_cast<void*>(at);
}

Arena* building_arena() noexcept { return t_building; }

BuildingArena::BuildingArena(Arena* arena) noexcept : previous_(t_building) { t_building = arena; }

BuildingArena::~BuildingArena() { t_building = previous_; }

}  // namespace tessary
