#pragma once
// The memory of one query tree: a bump allocator whose blocks are released together when the tree
// goes, and the allocator through which the tree's boxes and lists take their memory from it.
//
// While a tree is built, its arena is the thread's building arena (`BuildingArena`), and every
// box, list and text that the tree's types make on that thread then takes its memory from it, so
// that an arena's tree owns nothing else and is released with the arena without being walked.
// Made at any other time (by hand, or as a copy of a subtree), they take it from the heap and
// release it one by one, so that a copy never depends on the tree it was copied from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tessary {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // Room for `bytes` bytes aligned to `align` (a power of two of at most 16), valid until the
  // arena goes or it is given back. Throws std::bad_alloc.
  void* allocate(std::size_t bytes, std::size_t align) {
    if (bytes >= kLargeRequest) return allocate_large(bytes);
    const std::uintptr_t at = (next_ + (align - 1)) & ~std::uintptr_t{align - 1};
    if (at + bytes > end_ || at < next_) return allocate_in_new_block(bytes, align);
    next_ = at + bytes;
    return reinterpret_cast<void*>(at);
  }

  // Gives back room that allocate(bytes, ...) returned. Only large room goes back at once (a
  // list that outgrew it leaves nothing behind); smaller room goes with the arena.
  void deallocate(void* p, std::size_t bytes) noexcept {
    if (bytes >= kLargeRequest) deallocate_large(p);
  }

 private:
  // Requests of this size or more get a block of their own, released when given back: a long
  // list grows by doubling, and its outgrown arrays would otherwise stay until the arena goes.
  static constexpr std::size_t kLargeRequest = std::size_t{64} << 10;
  struct Large {
    Large* previous;
    Large* next;
  };
  struct Block {
    Block* previous;
    std::size_t size;  // bytes, this header included
  };
  [[gnu::noinline]] void* allocate_in_new_block(std::size_t bytes, std::size_t align);
  [[gnu::noinline]] void* allocate_large(std::size_t bytes);
  [[gnu::noinline]] void deallocate_large(void* p) noexcept;

  Block* last_ = nullptr;
  Large* large_ = nullptr;
  std::uintptr_t next_ = 0;
  std::uintptr_t end_ = 0;
};

// What a thread is building a tree from: its arena, and the query text and the copy of it that
// the arena holds, so that a name written in the query costs no copy of its own.
struct Building {
  Arena* arena = nullptr;
  const char* source = nullptr;
  std::size_t size = 0;
  const char* copy = nullptr;
};

namespace arena_detail {
extern constinit thread_local Building t_building;
}  // namespace arena_detail

// What this thread is building, and its arena (null when none). Set by BuildingArena.
inline const Building& building() noexcept { return arena_detail::t_building; }
inline Arena* building_arena() noexcept { return arena_detail::t_building.arena; }

// Makes `arena` this thread's building arena for its lifetime, then puts back the one before.
// With a query text, the arena takes a copy of it, and texts taken from it point into that copy.
class BuildingArena {
 public:
  explicit BuildingArena(Arena* arena, std::string_view source = {});
  ~BuildingArena();
  BuildingArena(const BuildingArena&) = delete;
  BuildingArena& operator=(const BuildingArena&) = delete;

 private:
  Building previous_;
};

// A text of the tree (a name, a literal's content): while a tree is built, it points into the
// arena's copy of the query text, or into the arena when it is not a piece of that text;
// otherwise (a copy, or a text set by hand) it owns its bytes on the heap.
class Text {
 public:
  Text() = default;
  Text(std::string_view text) { assign(text); }    // NOLINT: implicit on purpose
  Text(const char* text) { assign(text); }         // NOLINT: implicit on purpose
  Text(const std::string& text) { assign(text); }  // NOLINT: implicit on purpose
  Text(const Text& other) { assign(other.view()); }
  Text(Text&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        on_heap_(std::exchange(other.on_heap_, false)) {}
  Text& operator=(const Text& other) {
    if (this != &other) *this = Text(other);
    return *this;
  }
  Text& operator=(Text&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      on_heap_ = std::exchange(other.on_heap_, false);
    }
    return *this;
  }
  ~Text() { release(); }

  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT: implicit on purpose
  std::string str() const { return std::string(view()); }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char operator[](std::size_t i) const { return data_[i]; }
  const char* begin() const { return data_; }
  const char* end() const { return data_ + size_; }

  friend bool operator==(const Text& a, const Text& b) { return a.view() == b.view(); }
  friend bool operator==(const Text& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const Text& a, const char* b) { return a.view() == b; }
  friend bool operator==(const Text& a, const std::string& b) { return a.view() == b; }
  friend std::string operator+(std::string a, const Text& b) { return a.append(b.view()); }
  friend std::string operator+(const char* a, const Text& b) { return std::string(a) + b; }
  friend std::string operator+(const Text& a, std::string_view b) { return a.str().append(b); }
  friend std::ostream& operator<<(std::ostream& out, const Text& t) { return out << t.view(); }

 private:
  void assign(std::string_view text);
  void release() noexcept {
    if (on_heap_) delete[] data_;
  }
  const char* data_ = nullptr;
  std::uint32_t size_ = 0;
  bool on_heap_ = false;
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
    if (arena_ != nullptr) {
      arena_->deallocate(p, n * sizeof(T));
    } else {
      ::operator delete(p, n * sizeof(T));
    }
  }
  // A copy made while a tree is built belongs to that tree; any other copy, to the heap.
  TreeAllocator select_on_container_copy_construction() const noexcept { return TreeAllocator(); }

  Arena* arena() const noexcept { return arena_; }
  template <class U>
  bool operator==(const TreeAllocator<U>& other) const noexcept {
    return arena_ == other.arena();
  }

 private:
  Arena* arena_;
};

}  // namespace tessary
