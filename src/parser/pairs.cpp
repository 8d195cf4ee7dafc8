#include "parser/pairs.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace tessary {

namespace {

// The block of a small token array let go on this thread, for the next one.
struct SpareBlock {
  Token* data = nullptr;
  std::size_t capacity = 0;
  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() { std::free(data); }
};
thread_local SpareBlock t_spare_block;

// Blocks of up to this many tokens are kept (about a query of 20 KB).
constexpr std::size_t kSpareTokens = (std::size_t{256} << 10) / sizeof(Token);

}  // namespace

void TokenVector::grow_to(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() / sizeof(Token)) throw std::bad_alloc();
  if (data_ == nullptr) {
    SpareBlock& spare = t_spare_block;
    if (spare.data != nullptr && spare.capacity >= n) {
      data_ = std::exchange(spare.data, nullptr);
      capacity_ = std::exchange(spare.capacity, 0);
      return;
    }
  }
  // The allocator keeps the whole old block; a large one it can grow by remapping its pages.
  void* grown = std::realloc(data_, n * sizeof(Token));
  if (grown == nullptr) throw std::bad_alloc();
  data_ = static_cast<Token*>(grown);
  capacity_ = n;
}

void TokenVector::give_back(std::size_t from, std::size_t to) const noexcept {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  from = std::max(from, given_back_);
  const auto first = (reinterpret_cast<std::uintptr_t>(data_ + from) + page - 1) & ~(page - 1);
  const auto last = reinterpret_cast<std::uintptr_t>(data_ + to) & ~(page - 1);
  if (last < first + kForgetStep) return;
  // The pages lie inside the array's block, so the allocator's own records around it stay.
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) == 0) {
    given_back_ = (last - reinterpret_cast<std::uintptr_t>(data_)) / sizeof(Token);
  }
}

void TokenVector::release() noexcept {
  if (data_ != nullptr && capacity_ <= kSpareTokens) {
    SpareBlock& spare = t_spare_block;
    if (spare.capacity < capacity_) {
      std::free(spare.data);
      spare.data = data_;
      spare.capacity = capacity_;
      data_ = nullptr;
    }
  }
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = given_back_ = 0;
}

}  // namespace tessary
