#include "parser/pairs.hpp"

#include <cstdlib>
#include <limits>
#include <new>

namespace tessary {

void TokenVector::grow_to(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() / sizeof(Token)) throw std::bad_alloc();
  // The allocator keeps the whole old block; a large one it can grow by remapping its pages.
  void* grown = std::realloc(data_, n * sizeof(Token));
  if (grown == nullptr) throw std::bad_alloc();
  data_ = static_cast<Token*>(grown);
  capacity_ = n;
}

}  // namespace tessary
