#pragma once
// A list that keeps its first N elements inside itself and moves to the heap only when it grows
// past them: the scope's bindings and their label lists are nearly always short, so most of them
// cost no allocation at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace tessary {

template <class T, std::size_t N>
class InlineList {
  static_assert(N > 0);
  static_assert(std::is_nothrow_move_constructible_v<T>);
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  InlineList() noexcept = default;
  template <class It>
  InlineList(It first, It last) {
    try {
      for (; first != last; ++first) emplace_back(*first);
    } catch (...) {
      release();
      throw;
    }
  }
  InlineList(const InlineList& other) : InlineList(other.begin(), other.end()) {}
  InlineList(InlineList&& other) noexcept { take(std::move(other)); }
  InlineList& operator=(InlineList&& other) noexcept {
    if (this != &other) {
      release();
      take(std::move(other));
    }
    return *this;
  }
  InlineList& operator=(const InlineList& other) {
    if (this != &other) *this = InlineList(other);
    return *this;
  }
  ~InlineList() { release(); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T& back() noexcept { return data_[size_ - 1]; }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) return grow_and_emplace(std::forward<Args>(args)...);
    return *new (data_ + size_++) T(std::forward<Args>(args)...);
  }
  void pop_back() noexcept { data_[--size_].~T(); }
  // Drops the elements from position `n` on; `n` is at most size().
  void shrink_to(std::size_t n) noexcept {
    while (size_ > n) pop_back();
  }
  void reserve(std::size_t n) {
    if (n > capacity_) move_to(n);
  }

  friend bool operator==(const InlineList& a, const InlineList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  bool on_heap() const noexcept { return data_ != inline_data(); }
  T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }
  const T* inline_data() const noexcept {
    return std::launder(reinterpret_cast<const T*>(inline_));
  }

  // Moves the elements into new room for `capacity` of them.
  void move_to(std::size_t capacity) {
    T* room = static_cast<T*>(::operator new(capacity * sizeof(T)));
    std::uninitialized_move(data_, data_ + size_, room);
    std::destroy(data_, data_ + size_);
    if (on_heap()) ::operator delete(data_);
    data_ = room;
    capacity_ = capacity;
  }
  template <class... Args>
  [[gnu::noinline]] T& grow_and_emplace(Args&&... args) {
    // The new element is made first: an argument may refer to an element of this list.
    T item(std::forward<Args>(args)...);
    move_to(2 * capacity_);
    return *new (data_ + size_++) T(std::move(item));
  }
  void take(InlineList&& other) noexcept {
    if (other.on_heap()) {
      data_ = std::exchange(other.data_, other.inline_data());
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, N);
      return;
    }
    std::uninitialized_move(other.data_, other.data_ + other.size_, data_);
    size_ = other.size_;
    other.release();
  }
  // Destroys the elements and gives back heap room: the list is empty and inline again.
  void release() noexcept {
    std::destroy(data_, data_ + size_);
    if (on_heap()) ::operator delete(data_);
    data_ = inline_data();
    size_ = 0;
    capacity_ = N;
  }

  T* data_ = inline_data();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
  alignas(T) unsigned char inline_[N * sizeof(T)];
};

}  // namespace tessary
