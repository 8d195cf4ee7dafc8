#pragma once
// The memory of one query tree: a bump allocator whose blocks are released together when the tree
// goes, and the allocator through which the tree's boxes and lists take their memory from it.
//
// While a tree is built, its arena is the thread's building arena (`BuildingArena`), and every
// box and list that the tree's types make on that thread then takes its memory from it. Made at
// any other time (by hand, or as a copy of a subtree), they take it from the heap and release it
// one by one, so that a copy never depends on the tree it was copied from.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

namespace tessary {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // Room for `bytes` bytes aligned to `align` (a power of two of at most 16), valid until the
  // arena goes. Throws std::bad_alloc.
  void* allocate(std::size_t bytes, std::size_t align) {
    const std::uintptr_t at = (next_ + (align - 1)) & ~std::uintptr_t{align - 1};
    if (at + bytes > end_ || at < next_) return allocate_in_new_block(bytes, align);
    next_ = at + bytes;
    return reinterpret_cast<void*>(at);
  }

  // The bytes the arena holds in its blocks, used or not.
  std::size_t reserved() const { return reserved_; }

 private:
  struct Block {
    Block* previous;
    std::size_t size;  // bytes, this header included
  };
  [[gnu::noinline]] void* allocate_in_new_block(std::size_t bytes, std::size_t align);

  Block* last_ = nullptr;
  std::uintptr_t next_ = 0;
  std::uintptr_t end_ = 0;
  std::size_t reserved_ = 0;
};

// The arena of the tree being built on this thread, or null. Set by BuildingArena.
Arena* building_arena() noexcept;

// Makes `arena` this thread's building arena for its lifetime, then puts back the one before.
class BuildingArena {
 public:
  explicit BuildingArena(Arena* arena) noexcept;
  ~BuildingArena();
  BuildingArena(const BuildingArena&) = delete;
  BuildingArena& operator=(const BuildingArena&) = delete;

 private:
  Arena* previous_;
};

// Allocator of the tree's lists: from the building arena when one was set at its making (then
// releasing is a no-op, the arena releasing everything at once), else from the heap. A copied
// list takes the heap; a moved one keeps its source's memory and allocator.
template <class T>
class TreeAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using propagate_on_container_copy_assignment = std::false_type;
  using is_always_equal = std::false_type;

  TreeAllocator() noexcept : arena_(building_arena()) {}
  explicit TreeAllocator(Arena* arena) noexcept : arena_(arena) {}
  template <class U>
  TreeAllocator(const TreeAllocator<U>& other) noexcept  // NOLINT: rebinding is implicit
      : arena_(other.arena()) {}

  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    if (arena_ != nullptr) return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T)));
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (arena_ == nullptr) ::operator delete(p, n * sizeof(T));
  }
  TreeAllocator select_on_container_copy_construction() const noexcept {
    return TreeAllocator(nullptr);
  }

  Arena* arena() const noexcept { return arena_; }
  template <class U>
  bool operator==(const TreeAllocator<U>& other) const noexcept {
    return arena_ == other.arena();
  }

 private:
  Arena* arena_;
};

}  // namespace tessary
