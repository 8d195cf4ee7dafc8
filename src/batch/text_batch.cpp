#include "batch/text_batch.hpp"

#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "batch/mapping.hpp"

namespace tessary::batch {

TextBatch::TextBatch(std::size_t count) {
  if (count == 0) return;
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(std::string_view)) {
    throw std::bad_alloc();
  }
  const std::size_t bytes = count * sizeof(std::string_view);
  void* memory = count >= kMappedFromCount ? map_block(bytes) : std::malloc(bytes);
  if (memory == nullptr) throw std::bad_alloc();
  views_ = static_cast<std::string_view*>(memory);
  capacity_ = count;
}

TextBatch::TextBatch(TextBatch&& other) noexcept
    : views_(std::exchange(other.views_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      size_(std::exchange(other.size_, 0)) {}

TextBatch& TextBatch::operator=(TextBatch&& other) noexcept {
  if (this != &other) {
    free_views();
    views_ = std::exchange(other.views_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

TextBatch::~TextBatch() { free_views(); }

void TextBatch::free_views() noexcept {
  if (capacity_ >= kMappedFromCount) {
    unmap_block(views_, capacity_ * sizeof(std::string_view));
  } else {
    std::free(views_);
  }
  views_ = nullptr;
  capacity_ = 0;
  size_ = 0;
}

}  // namespace tessary::batch
