#include "batch/text_batch.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace tessary::batch {

namespace {

std::size_t page_bytes() noexcept {
  static const std::size_t page = [] {
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
  }();
  return page;
}

std::size_t round_up(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

std::size_t TextBatch::stretch_bytes() noexcept {
  static const std::size_t stretch = round_up(std::size_t{256} << 10, page_bytes());
  return stretch;
}

TextBatch::TextBatch(TextBatch&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      used_(std::exchange(other.used_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      ends_(std::move(other.ends_)),
      pending_(std::move(other.pending_)) {}

TextBatch& TextBatch::operator=(TextBatch&& other) noexcept {
  if (this != &other) {
    free_buffer();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    used_ = std::exchange(other.used_, 0);
    mapped_ = std::exchange(other.mapped_, false);
    ends_ = std::move(other.ends_);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

TextBatch::~TextBatch() { free_buffer(); }

void TextBatch::free_buffer() noexcept {
  if (!mapped_) {
    std::free(data_);
  } else {
    munmap(data_, capacity_);
  }
  data_ = nullptr;
  capacity_ = 0;
  mapped_ = false;
}

void TextBatch::grow(std::size_t bytes) {
  if (!mapped_ && bytes < mapped_from_bytes()) {
    void* block = std::realloc(data_, bytes);
    if (block == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(block);
    capacity_ = bytes;
    return;
  }
  const std::size_t size = round_up(bytes, page_bytes());
  if (mapped_) {
    void* memory = mremap(data_, capacity_, size, MREMAP_MAYMOVE);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char*>(memory);
    capacity_ = size;
    return;
  }
  // A new mapping is filled in at once, so that the copy takes no page fault per page; the
  // texts already on the heap move over.
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  if (used_ != 0) std::memcpy(memory, data_, used_);
  std::free(data_);
  data_ = static_cast<char*>(memory);
  capacity_ = size;
  mapped_ = true;
  for (std::size_t i = 0; i < ends_.size(); ++i)
    count_in_stretches(i == 0 ? 0 : ends_[i - 1], ends_[i]);
}

void TextBatch::count_in_stretches(std::size_t begin, std::size_t end) {
  if (begin == end) return;
  const std::size_t last = (end - 1) / stretch_bytes();
  if (pending_.size() <= last) pending_.resize(last + 1, 0);
  for (std::size_t s = begin / stretch_bytes(); s <= last; ++s) ++pending_[s];
}

void TextBatch::reserve(std::size_t count, std::size_t bytes) {
  ends_.reserve(count);
  if (bytes > capacity_) grow(bytes);
}

void TextBatch::push_back(std::string_view text) {
  if (text.size() > capacity_ - used_) grow(std::max(used_ + text.size(), capacity_ * 2));
  if (!text.empty()) std::memcpy(data_ + used_, text.data(), text.size());
  if (mapped_) count_in_stretches(used_, used_ + text.size());
  used_ += text.size();
  ends_.push_back(used_);
}

void TextBatch::release(std::size_t i) noexcept {
  if (!mapped_) return;
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  const std::size_t end = ends_[i];
  if (begin == end) return;
  const std::size_t stretch = stretch_bytes();
  for (std::size_t s = begin / stretch; s <= (end - 1) / stretch; ++s) {
    // The last text out hands the stretch's pages back; the texts read before were released
    // with acq_rel too, so every read of the stretch is over by then. The stretch stays mapped
    // (as pages nobody reads again) until the whole buffer goes.
    if (std::atomic_ref<std::uint32_t>(pending_[s]).fetch_sub(1, std::memory_order_acq_rel) == 1) {
      const std::size_t from = s * stretch;
      madvise(data_ + from, std::min(stretch, capacity_ - from), MADV_DONTNEED);
    }
  }
}

}  // namespace tessary::batch
