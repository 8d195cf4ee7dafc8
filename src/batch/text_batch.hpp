#pragma once
// The query texts of one batch, copied one after the other into a buffer of their own, with the
// end offset of each. A large buffer is mapped from the system directly, so that the workers can
// hand the pages of each stretch back as soon as every text that has bytes in it has been
// validated (the stretch stays mapped, unread, until the whole buffer goes):
// the texts then weigh less and less in the batch's memory while the results grow. A small one
// lives on the heap, where it costs no system calls. Nothing here knows about Python.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tessary::batch {

class TextBatch {
 public:
  TextBatch() = default;
  TextBatch(TextBatch&& other) noexcept;
  TextBatch& operator=(TextBatch&& other) noexcept;
  TextBatch(const TextBatch&) = delete;
  TextBatch& operator=(const TextBatch&) = delete;
  ~TextBatch();

  // Makes room for `count` texts of `bytes` bytes in all. Throws std::bad_alloc.
  void reserve(std::size_t count, std::size_t bytes);
  // Appends a copy of `text`, growing the buffer when needed. Throws std::bad_alloc.
  void push_back(std::string_view text);

  std::size_t size() const noexcept { return ends_.size(); }
  // Text i, valid until release(i) or the next push_back (which may move the buffer).
  std::string_view operator[](std::size_t i) const noexcept {
    std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    if (begin == ends_[i]) return std::string_view();  // the buffer may not even exist
    return std::string_view(data_ + begin, ends_[i] - begin);
  }

  // Says that text i is no longer read; call it at most once per text, after the last
  // push_back. When the buffer is mapped, the pages of a stretch go back to the system as soon
  // as the last text with bytes in it is released. Safe to call from many threads at once, for
  // different texts.
  void release(std::size_t i) noexcept;

  // The size of the stretches that go back to the system one by one: a multiple of the page
  // size.
  static std::size_t stretch_bytes() noexcept;
  // Buffers of at least this many bytes are mapped; smaller ones live on the heap.
  static std::size_t mapped_from_bytes() noexcept { return 4 * stretch_bytes(); }

 private:
  // Makes the buffer hold at least `bytes`, moving it onto a mapping once it is large.
  void grow(std::size_t bytes);
  // Counts text i in the stretches it has bytes in.
  void count_in_stretches(std::size_t begin, std::size_t end);
  void free_buffer() noexcept;

  char* data_ = nullptr;
  std::size_t capacity_ = 0;  // bytes at data_; for a mapping, a multiple of the page size
  std::size_t used_ = 0;
  bool mapped_ = false;            // data_ is a mapping (else a heap block, or nothing)
  std::vector<std::size_t> ends_;  // text i ends at ends_[i] and begins where text i - 1 ends
  // For each stretch of a mapping, the texts with bytes in it that have not been released yet;
  // read and written atomically by release().
  std::vector<std::uint32_t> pending_;
};

}  // namespace tessary::batch
