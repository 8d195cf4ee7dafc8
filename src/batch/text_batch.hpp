#pragma once
// The query texts of one batch as views of bytes that the caller keeps alive, unchanged, until
// the batch is over: nothing is copied, so the texts take no memory of the batch's own and
// nothing needs faulting in before the threads start. Each text may carry a keeper, a pointer
// of the caller's to whatever keeps its bytes alive, for the caller to let go of afterwards.
// The views of a large batch live in a block mapped for them (see mapping.hpp), of which one of
// the common size is kept for the next batch; those of a small batch on the heap. Nothing here
// knows about Python.
#include <cstddef>
#include <string_view>

namespace tessary::batch {

class TextBatch {
 public:
  TextBatch() = default;
  // Room for `count` texts. Throws std::bad_alloc.
  explicit TextBatch(std::size_t count);
  TextBatch(TextBatch&& other) noexcept;
  TextBatch& operator=(TextBatch&& other) noexcept;
  TextBatch(const TextBatch&) = delete;
  TextBatch& operator=(const TextBatch&) = delete;
  ~TextBatch();

  // Appends a view of `text`, whose bytes must outlive the batch, with its keeper; at most
  // `count` in all.
  void push_back(std::string_view text, void* keeper = nullptr) noexcept {
    entries_[size_++] = Entry{text.data(), text.size(), keeper};
  }

  std::size_t size() const noexcept { return size_; }
  std::string_view operator[](std::size_t i) const noexcept {
    return std::string_view(entries_[i].data, entries_[i].size);
  }
  void* keeper(std::size_t i) const noexcept { return entries_[i].keeper; }

  // Batches of at least this many texts keep their views in a mapping of their own.
  static constexpr std::size_t kMappedFromCount = 8192;

 private:
  struct Entry {
    const char* data;
    std::size_t size;
    void* keeper;
  };

  void free_views() noexcept;

  Entry* entries_ = nullptr;
  std::size_t mapped_bytes_ = 0;  // the block's size when it is mapped (else on the heap)
  std::size_t size_ = 0;
};

}  // namespace tessary::batch
