#include "parser/pairs.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace tessary {

namespace {

// Arrays of at least this many bytes are mapped of their own.
constexpr std::size_t kMappedFromBytes = std::size_t{1} << 20;
constexpr std::size_t kPageBytes = 4096;

std::size_t round_up(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

void TokenVector::grow_to(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() / sizeof(Token) - kPageBytes) throw std::bad_alloc();
  const std::size_t bytes = n * sizeof(Token);
  if (!mapped_ && bytes < kMappedFromBytes) {
    void* grown = std::realloc(data_, bytes);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<Token*>(grown);
    capacity_ = n;
    return;
  }
  const std::size_t mapped_bytes = round_up(bytes, kPageBytes);
  void* memory;
  if (mapped_) {
    memory = mremap(data_, capacity_ * sizeof(Token), mapped_bytes, MREMAP_MAYMOVE);
    if (memory == MAP_FAILED) throw std::bad_alloc();
  } else {
    memory = mmap(nullptr, mapped_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    // The whole room moves, not only the size: the recognizer writes its events there first.
    if (capacity_ != 0) std::memcpy(memory, data_, capacity_ * sizeof(Token));
    std::free(data_);
    mapped_ = true;
  }
  data_ = static_cast<Token*>(memory);
  capacity_ = mapped_bytes / sizeof(Token);
}

void TokenVector::release() noexcept {
  if (mapped_) {
    munmap(data_, capacity_ * sizeof(Token));
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
  mapped_ = false;
}

}  // namespace tessary
