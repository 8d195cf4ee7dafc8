#pragma once
// The memory of one query tree: a bump allocator whose blocks are released together when the tree
// goes, and the list type whose arrays the tree's nodes take from it.
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
#include <optional>
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
  void deallocate(void* p, std::size_t bytes) noexcept { give_back(p, bytes); }
  // The same, for room of whichever arena it came from (large room knows its arena).
  static void give_back(void* p, std::size_t bytes) noexcept {
    if (bytes >= kLargeRequest) deallocate_large(p);
  }

 private:
  // Requests of this size or more get a block of their own, released when given back: a long
  // list grows by doubling, and its outgrown arrays would otherwise stay until the arena goes.
  static constexpr std::size_t kLargeRequest = std::size_t{64} << 10;
  struct Large {
    Large* previous;
    Large* next;
    Arena* arena;
  };
  struct Block {
    Block* previous;
    std::size_t size;  // bytes, this header included
  };
  [[gnu::noinline]] void* allocate_in_new_block(std::size_t bytes, std::size_t align);
  [[gnu::noinline]] void* allocate_large(std::size_t bytes);
  [[gnu::noinline]] static void deallocate_large(void* p) noexcept;

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

// What a thread holds for the tree it builds: what it builds it from, and how many nodes of the
// tree stand above the child being built now (the builder's count against its depth bound). They
// are one thread-local, so that a step needing both looks it up once.
struct BuildThread {
  Building building;
  std::size_t depth = 0;
};

namespace arena_detail {
extern constinit thread_local BuildThread t_build;
}  // namespace arena_detail

// `address` (of a thread-local), as a value that the compiler keeps where it is used again. It
// would otherwise work a thread-local's address out afresh at each use, which in a shared object
// is an indirect call each time.
template <class T>
[[gnu::always_inline]] inline T* kept_address(T* address) noexcept {
  asm("" : "+r"(address));
  return address;
}

// This thread's state, for a step that keeps it: one that makes several boxes, lists and texts
// hands them its `building` rather than have each look the thread-local up again.
[[gnu::always_inline]] inline BuildThread& build_thread() noexcept {
  return *kept_address(&arena_detail::t_build);
}

// What this thread is building, and its arena (null when none). Set by BuildingArena.
inline const Building& building() noexcept { return arena_detail::t_build.building; }
inline Arena* building_arena() noexcept { return arena_detail::t_build.building.arena; }

// Where the texts of a tree taken from its query text point.
enum class SourceText : std::uint8_t {
  Copied,  // into the arena's copy of the query text: the tree holds all it shows
  Viewed,  // into the query text itself, which must then outlive the tree
};

// Makes `arena` this thread's building arena for its lifetime, then puts back the one before.
// With a query text, texts taken from it point into the arena's copy of it, or into the text
// itself when it is viewed.
class BuildingArena {
 public:
  explicit BuildingArena(Arena* arena, std::string_view source = {},
                         SourceText text = SourceText::Copied);
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
  // The same, by `b`: this thread's Building, as a step that keeps it hands it over.
  Text(std::string_view text, const Building& b) { assign(text, b); }
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
  // Most texts of a tree lie in the query text being built from, and point into its copy: that
  // case is decided here, every other one out of line.
  void assign(std::string_view text) { assign(text, building()); }
  void assign(std::string_view text, const Building& b) {
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const auto from = reinterpret_cast<std::uintptr_t>(b.source);
    if (b.copy != nullptr && b.arena != nullptr && !text.empty() && at >= from &&
        at - from <= b.size && text.size() <= b.size - (at - from) &&
        text.size() <= std::numeric_limits<std::uint32_t>::max()) {
      data_ = b.copy + (at - from);
      size_ = static_cast<std::uint32_t>(text.size());
      on_heap_ = false;
      return;
    }
    assign_elsewhere(text);
  }
  void assign_elsewhere(std::string_view text);
  void release() noexcept {
    if (on_heap_) delete[] data_;
  }
  friend class MaybeText;

  const char* data_ = nullptr;
  std::uint32_t size_ = 0;
  bool on_heap_ = false;
  // Read only by a MaybeText holding this text: whether it holds one. Moves and copies of a Text
  // leave it as it is.
  bool held_ = false;
};

// A text that may be absent (a name that is not written), read as a std::optional<Text> is, in the
// room of a Text: the text's spare byte tells whether one is held.
class MaybeText {
 public:
  MaybeText() = default;
  MaybeText(std::nullopt_t) noexcept {}  // NOLINT: implicit on purpose
  template <class T, class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, MaybeText> &&
                                              !std::is_same_v<std::decay_t<T>, std::nullopt_t> &&
                                              std::is_constructible_v<Text, T&&>>>
  MaybeText(T&& text) : text_(std::forward<T>(text)) {  // NOLINT: implicit on purpose
    text_.held_ = true;
  }
  MaybeText(const MaybeText& other) {
    if (other) emplace(*other);
  }
  // As with std::optional, the moved-from one still holds a text (an empty one).
  MaybeText(MaybeText&& other) noexcept : text_(std::move(other.text_)) {
    text_.held_ = other.text_.held_;
  }
  MaybeText& operator=(const MaybeText& other) {
    if (this != &other) *this = MaybeText(other);
    return *this;
  }
  MaybeText& operator=(MaybeText&& other) noexcept {
    if (this != &other) {
      text_ = std::move(other.text_);
      text_.held_ = other.text_.held_;
    }
    return *this;
  }
  MaybeText& operator=(std::nullopt_t) noexcept {
    reset();
    return *this;
  }
  ~MaybeText() = default;

  bool has_value() const noexcept { return text_.held_; }
  explicit operator bool() const noexcept { return text_.held_; }
  Text& operator*() { return text_; }
  const Text& operator*() const { return text_; }
  Text* operator->() { return &text_; }
  const Text* operator->() const { return &text_; }
  const Text& value() const {
    if (!text_.held_) throw std::bad_optional_access();
    return text_;
  }
  template <class... A>
  Text& emplace(A&&... args) {
    text_ = Text(std::forward<A>(args)...);
    text_.held_ = true;
    return text_;
  }
  void reset() noexcept {
    text_ = Text();
    text_.held_ = false;
  }

  // Equal when both are absent, or both hold equal texts.
  friend bool operator==(const MaybeText& a, const MaybeText& b) {
    return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
  }
  friend bool operator==(const MaybeText& a, std::nullopt_t) { return !a.has_value(); }

 private:
  Text text_;
};

// A list of a tree's nodes, in 16 bytes: its array, the count and the room. The array is taken
// from the building arena when there is one as it is made, and is then released with the arena
// (a large one given back at once when the list outgrows it); otherwise it is on the heap and the
// list frees it. A copy takes its array by the same rule; a moved list keeps its source's.
template <class T>
class TreeList {
 public:
  using value_type = T;
  using size_type = std::size_t;
  using reference = T&;
  using const_reference = const T&;
  using iterator = T*;
  using const_iterator = const T*;

  TreeList() = default;
  TreeList(const TreeList& other) {
    if (other.empty()) return;
    data_ = take(other.size_);
    try {
      for (const T& item : other) {
        new (data_ + size_) T(item);
        ++size_;
      }
    } catch (...) {
      release();
      throw;
    }
  }
  TreeList(TreeList&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        room_(std::exchange(other.room_, 0)) {}
  TreeList& operator=(const TreeList& other) {
    if (this != &other) *this = TreeList(other);
    return *this;
  }
  TreeList& operator=(TreeList&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      room_ = std::exchange(other.room_, 0);
    }
    return *this;
  }
  ~TreeList() { release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return room_ & ~kOnHeap; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& at(std::size_t i) { return data_[checked(i)]; }
  const T& at(std::size_t i) const { return data_[checked(i)]; }
  T& front() { return data_[0]; }
  const T& front() const { return data_[0]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }

  // Makes room for `n` items in all; never shrinks.
  void reserve(std::size_t n) {
    if (n > capacity()) move_to(n, building_arena());
  }
  // The same, by `b`: this thread's Building, as a step that keeps it hands it over.
  void reserve(std::size_t n, const Building& b) {
    if (n > capacity()) move_to(n, b.arena);
  }
  void push_back(const T& item) { emplace_back(item); }
  void push_back(T&& item) { emplace_back(std::move(item)); }
  template <class... A>
  T& emplace_back(A&&... args) {
    if (size_ == capacity()) return grow_and_emplace(std::forward<A>(args)...);
    T* made = new (data_ + size_) T(std::forward<A>(args)...);
    ++size_;
    return *made;
  }
  // Appends what `make()` returns, made in the item's own room: the value is never moved.
  template <class Make>
  T& emplace_made(Make&& make) {
    if (size_ == capacity()) grow();
    T* made = new (data_ + size_) T(make());
    ++size_;
    return *made;
  }
  void clear() noexcept {
    for (T& item : *this) item.~T();
    size_ = 0;
  }

 private:
  // Set in `room_` when the array is on the heap rather than in an arena.
  static constexpr std::uint32_t kOnHeap = std::uint32_t{1} << 31;

  std::size_t checked(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("tree list index out of range");
    return i;
  }
  // An array of room for `n` items, in the building arena or else on the heap; sets `room_`.
  T* take(std::size_t n) { return take(n, building_arena()); }
  // The same, given the building arena (null when none).
  T* take(std::size_t n, Arena* arena) {
    if (n >= kOnHeap) throw std::bad_alloc();
    if (arena != nullptr) {
      T* array = static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T)));
      room_ = static_cast<std::uint32_t>(n);
      return array;
    }
    T* array = static_cast<T*>(::operator new(n * sizeof(T)));
    room_ = static_cast<std::uint32_t>(n) | kOnHeap;
    return array;
  }
  static void give_back(T* array, std::uint32_t room) noexcept {
    if (room & kOnHeap) {
      ::operator delete(array);
    } else {
      Arena::give_back(array, room * sizeof(T));
    }
  }
  // Moves the items to an array of room for `n`, taken as take(n, arena) does.
  void move_to(std::size_t n, Arena* arena) {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    T* old = data_;
    const std::uint32_t old_room = room_;
    data_ = take(n, arena);
    for (std::uint32_t i = 0; i < size_; ++i) {
      new (data_ + i) T(std::move(old[i]));
      old[i].~T();
    }
    if (old != nullptr) give_back(old, old_room);
  }
  // Doubles the room (out of line, so that a loop that appends looks the building arena up only
  // when it grows).
  [[gnu::noinline]] void grow() {
    move_to(size_ == 0 ? 1 : 2 * std::size_t{size_}, building_arena());
  }
  template <class... A>
  [[gnu::noinline]] T& grow_and_emplace(A&&... args) {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    T* old = data_;
    const std::uint32_t old_room = room_;
    const std::size_t n = size_ == 0 ? 1 : 2 * std::size_t{size_};
    T* array = take(n);
    // The new item first, as its arguments may be items of the list.
    T* made = nullptr;
    try {
      made = new (array + size_) T(std::forward<A>(args)...);
    } catch (...) {
      give_back(array, room_);
      room_ = old_room;
      throw;
    }
    for (std::uint32_t i = 0; i < size_; ++i) {
      new (array + i) T(std::move(old[i]));
      old[i].~T();
    }
    if (old != nullptr) give_back(old, old_room);
    data_ = array;
    ++size_;
    return *made;
  }
  void release() noexcept {
    if (data_ == nullptr) return;
    clear();
    give_back(data_, room_);
    data_ = nullptr;
    room_ = 0;
  }

  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t room_ = 0;  // the room, and kOnHeap
};

}  // namespace tessary
