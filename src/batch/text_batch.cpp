#include "batch/text_batch.hpp"

#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "batch/mapping.hpp"

namespace tessary::batch {

TextBatch::TextBatch(std::size_t count) {
  if (count == 0) return;
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(Entry)) {
    throw std::bad_alloc();
  }
  const std::size_t bytes = count * sizeof(Entry);
  void* memory = count >= kMappedFromCount ? map_block(bytes) : std::malloc(bytes);
  if (memory == nullptr) throw std::bad_alloc();
  entries_ = static_cast<Entry*>(memory);
  capacity_ = count;
}

TextBatch::TextBatch(TextBatch&& other) noexcept
    : entries_(std::exchange(other.entries_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      size_(std::exchange(other.size_, 0)) {}

TextBatch& TextBatch::operator=(TextBatch&& other) noexcept {
  if (this != &other) {
    free_views();
    entries_ = std::exchange(other.entries_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

TextBatch::~TextBatch() { free_views(); }

void TextBatch::free_views() noexcept {
  if (capacity_ >= kMappedFromCount) {
    unmap_block(entries_, capacity_ * sizeof(Entry));
  } else {
    std::free(entries_);
  }
  entries_ = nullptr;
  capacity_ = 0;
  size_ = 0;
}

}  // namespace tessary::batch
