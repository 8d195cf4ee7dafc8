#pragma once
// The token tree of one recognizer run: a flat list of start and end entries shared by every
// pair taken from it. A pair is the couple of one start entry and its end entry; its inner
// pairs are the couples between them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/rule.hpp"

namespace tessary {

struct Token {
  std::uint32_t pos;  // byte offset: where the pair starts (start entry) or ends (end entry)
  std::uint32_t
      partner;  // index of the matching end entry (start entry) or start entry (end entry)
  Rule rule;    // meaningful on end entries
  bool is_start;
};

// A growable array of tokens on the C heap. Room is made without being written, so that the
// recognizer can size its buffer without touching the pages of the part it does not use, and
// the array grows by reallocation (a query of a few dozen kilobytes can leave tens of megabytes
// of tokens, and the allocator can often grow a block in place or remap its pages). Each thread
// keeps the block of one small array it let go for the next array it makes, since a parse and
// the tree built from it come and go together.
class TokenVector {
 public:
  TokenVector() = default;
  TokenVector(TokenVector&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  TokenVector& operator=(TokenVector&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  TokenVector(const TokenVector&) = delete;
  TokenVector& operator=(const TokenVector&) = delete;
  ~TokenVector() { release(); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  Token* data() { return data_; }
  const Token* data() const { return data_; }
  Token& operator[](std::size_t i) { return data_[i]; }
  const Token& operator[](std::size_t i) const { return data_[i]; }

  // Makes room for `n` tokens in all, keeping what the whole room held, written through data()
  // past the size or not; new room is not written. Never shrinks. Throws std::bad_alloc.
  void reserve(std::size_t n) {
    if (n > capacity_) grow_to(n);
  }
  void push_back(const Token& token) {
    if (size_ == capacity_) grow_to(capacity_ * 2 + 64);
    data_[size_++] = token;
  }
  // Sets the size; tokens past the old size are not written.
  void resize(std::size_t n) {
    reserve(n);
    size_ = n;
  }

 private:
  void grow_to(std::size_t n);
  void release() noexcept;

  Token* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
static_assert(std::is_trivially_copyable_v<Token>);

struct TokenList {
  std::string_view input;
  TokenVector tokens;
};

class Pairs;

// One rule-tagged span. Cheap to copy; valid while the Pairs it came from (or a copy of the
// top-level Pairs returned by the recognizer) is alive.
class Pair {
 public:
  Pair(const TokenList* list, std::uint32_t start_index) : list_(list), start_(start_index) {}

  Rule as_rule() const { return list_->tokens[end_index()].rule; }
  std::size_t start() const { return list_->tokens[start_].pos; }
  std::size_t end() const { return list_->tokens[end_index()].pos; }
  std::string_view as_str() const { return list_->input.substr(start(), end() - start()); }
  // The whole text that the recognizer read.
  std::string_view input() const { return list_->input; }
  inline Pairs into_inner() const;

 private:
  std::uint32_t end_index() const { return list_->tokens[start_].partner; }
  const TokenList* list_;
  std::uint32_t start_;
};

// A sequence of sibling pairs in text order: tokens [begin, end) of the list.
class Pairs {
 public:
  Pairs() = default;
  Pairs(const TokenList* list, std::uint32_t begin, std::uint32_t end,
        std::shared_ptr<const TokenList> owner = nullptr)
      : owner_(std::move(owner)), list_(list), cur_(begin), end_(end) {}

  std::optional<Pair> peek() const {
    if (cur_ >= end_) return std::nullopt;
    return Pair(list_, cur_);
  }
  std::optional<Pair> next() {
    if (cur_ >= end_) return std::nullopt;
    Pair p(list_, cur_);
    cur_ = list_->tokens[cur_].partner + 1;
    return p;
  }
  bool empty() const { return cur_ >= end_; }
  std::size_t count() const {
    std::size_t n = 0;
    for (Pairs copy = *this; copy.next();) ++n;
    return n;
  }
  std::string_view input() const { return list_ ? list_->input : std::string_view{}; }

  // Range-for over the remaining pairs (does not advance this object).
  class iterator {
   public:
    iterator(const TokenList* list, std::uint32_t cur) : list_(list), cur_(cur) {}
    Pair operator*() const { return Pair(list_, cur_); }
    iterator& operator++() {
      cur_ = list_->tokens[cur_].partner + 1;
      return *this;
    }
    bool operator!=(const iterator& o) const { return cur_ != o.cur_; }
    bool operator==(const iterator& o) const { return cur_ == o.cur_; }

   private:
    const TokenList* list_;
    std::uint32_t cur_;
  };
  iterator begin() const { return iterator(list_, cur_); }
  iterator end() const { return iterator(list_, end_); }

 private:
  std::shared_ptr<const TokenList> owner_;  // set on the top-level sequence only
  const TokenList* list_ = nullptr;
  std::uint32_t cur_ = 0;
  std::uint32_t end_ = 0;
};

inline Pairs Pair::into_inner() const { return Pairs(list_, start_ + 1, end_index()); }

}  // namespace tessary
