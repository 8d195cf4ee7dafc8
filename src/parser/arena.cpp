#include "parser/arena.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
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

constexpr std::size_t kHeader = 16;       // room of a block header, keeping the rest 16-aligned
constexpr std::size_t kLargeHeader = 32;  // the same for room of its own

struct SpareBlock {
  void* block = nullptr;
  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() { std::free(block); }
};
thread_local SpareBlock t_spare;

}  // namespace

namespace arena_detail {
constinit thread_local BuildThread t_build;
}  // namespace arena_detail

using arena_detail::t_build;

static_assert(sizeof(void*) * 2 <= kHeader);
static_assert(sizeof(void*) * 3 <= kLargeHeader);

Arena::~Arena() {
  for (Large* large = large_; large != nullptr;) std::free(std::exchange(large, large->next));
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
  next_ = reinterpret_cast<std::uintptr_t>(memory) + kHeader;
  end_ = reinterpret_cast<std::uintptr_t>(memory) + size;
  const std::uintptr_t at = (next_ + (align - 1)) & ~std::uintptr_t{align - 1};
  next_ = at + bytes;
  return reinterpret_cast<void*>(at);
}

void* Arena::allocate_large(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() - kLargeHeader) throw std::bad_alloc();
  auto* large = static_cast<Large*>(std::malloc(kLargeHeader + bytes));
  if (large == nullptr) throw std::bad_alloc();
  large->arena = this;
  large->previous = nullptr;
  large->next = large_;
  if (large_ != nullptr) large_->previous = large;
  large_ = large;
  return reinterpret_cast<char*>(large) + kLargeHeader;
}

void Arena::deallocate_large(void* p) noexcept {
  auto* large = reinterpret_cast<Large*>(static_cast<char*>(p) - kLargeHeader);
  (large->previous != nullptr ? large->previous->next : large->arena->large_) = large->next;
  if (large->next != nullptr) large->next->previous = large->previous;
  std::free(large);
}

BuildingArena::BuildingArena(Arena* arena, std::string_view source, SourceText text) {
  BuildThread& thread = build_thread();
  previous_ = thread.building;
  Building next{arena, source.data(), source.size(), nullptr};
  if (text == SourceText::Viewed) {
    next.copy = source.data();
  } else if (!source.empty()) {
    char* copy = static_cast<char*>(arena->allocate(source.size(), 1));
    std::memcpy(copy, source.data(), source.size());
    next.copy = copy;
  }
  thread.building = next;
}

BuildingArena::~BuildingArena() { t_build.building = previous_; }

void Text::assign_elsewhere(std::string_view text) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("tree text longer than 4 GiB");
  }
  size_ = static_cast<std::uint32_t>(text.size());
  on_heap_ = false;
  if (text.empty()) {
    data_ = nullptr;
    return;
  }
  const Building& b = t_build.building;
  if (b.arena != nullptr) {
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const auto from = reinterpret_cast<std::uintptr_t>(b.source);
    if (b.copy != nullptr && at >= from && at - from <= b.size &&
        text.size() <= b.size - (at - from)) {
      data_ = b.copy + (at - from);
      return;
    }
    char* bytes = static_cast<char*>(b.arena->allocate(text.size(), 1));
    std::memcpy(bytes, text.data(), text.size());
    data_ = bytes;
    return;
  }
  char* bytes = new char[text.size()];
  std::memcpy(bytes, text.data(), text.size());
  data_ = bytes;
  on_heap_ = true;
}

}  // namespace tessary
