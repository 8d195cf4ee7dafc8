#include "batch/text_batch.hpp"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "batch/mapping.hpp"

namespace tessary::batch {

namespace {

// The views of the batches of common sizes take one block of this size, and the last such
// block freed is kept for the next batch: the calling thread fills the views before the
// workers start, and memory it has to fault in there would hold the whole batch up.
constexpr std::size_t kSpareBytes = std::size_t{2} << 20;
std::atomic<void*> g_spare{nullptr};

void* take_block(std::size_t bytes) {
  if (bytes == kSpareBytes) {
    if (void* spare = g_spare.exchange(nullptr, std::memory_order_acquire)) return spare;
  }
  return map_block(bytes);
}

void give_block(void* block, std::size_t bytes) noexcept {
  if (bytes == kSpareBytes) {
    void* none = nullptr;
    if (g_spare.compare_exchange_strong(none, block, std::memory_order_release)) return;
  }
  unmap_block(block, bytes);
}

}  // namespace

TextBatch::TextBatch(std::size_t count) {
  if (count == 0) return;
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(Entry)) {
    throw std::bad_alloc();
  }
  std::size_t bytes = count * sizeof(Entry);
  void* memory = nullptr;
  if (count < kMappedFromCount) {
    memory = std::malloc(bytes);
    if (memory == nullptr) throw std::bad_alloc();
  } else {
    if (bytes < kSpareBytes) bytes = kSpareBytes;
    memory = take_block(bytes);
    mapped_bytes_ = bytes;
  }
  entries_ = static_cast<Entry*>(memory);
}

TextBatch::TextBatch(TextBatch&& other) noexcept
    : entries_(std::exchange(other.entries_, nullptr)),
      mapped_bytes_(std::exchange(other.mapped_bytes_, 0)),
      size_(std::exchange(other.size_, 0)) {}

TextBatch& TextBatch::operator=(TextBatch&& other) noexcept {
  if (this != &other) {
    free_views();
    entries_ = std::exchange(other.entries_, nullptr);
    mapped_bytes_ = std::exchange(other.mapped_bytes_, 0);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

TextBatch::~TextBatch() { free_views(); }

void TextBatch::free_views() noexcept {
  if (mapped_bytes_ != 0) {
    give_block(entries_, mapped_bytes_);
  } else {
    std::free(entries_);
  }
  entries_ = nullptr;
  mapped_bytes_ = 0;
  size_ = 0;
}

}  // namespace tessary::batch
