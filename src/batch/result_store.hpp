#pragma once
// Where the core results handed to Python live, and how their memory goes back to the system.
//
// A single validation's result gets a box of its own. A batch's results are built in place in
// one block of slots, one per query, which goes back to the system whole once its last result
// is freed. The strings and lists inside the results were allocated by the worker threads, in
// the C library's per-thread heaps, and freeing them leaves free space there that the library
// keeps for itself. So the heap memory of the batch results freed is counted, and a hand-back
// falls due each time one batch's results freed since its last hand-back reach
// kBatchHandBackBytes, or all batch results freed since the last hand-back reach
// kHandBackBytes. Whoever frees results then calls give_back_free_memory when hand_back_due
// says so, at a moment of its choosing (the Python layer, with the interpreter lock released).
// A batch whose results take little memory never pays for it: the next batch reuses that
// memory. Nothing here knows about Python.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "validator/validator.hpp"

namespace tessary::batch {

inline constexpr std::size_t kBatchHandBackBytes = std::size_t{16} << 20;
inline constexpr std::size_t kHandBackBytes = std::size_t{48} << 20;

// Frees a result made by build_result or ResultSlots::emplace.
struct ResultRelease {
  struct Block;
  // The batch block holding the result, or in_place() for one in memory of the caller's.
  Block* block = nullptr;

  static Block* in_place() noexcept;
  bool in_batch() const noexcept { return block != in_place(); }
  void operator()(const ValidationResult* result) const noexcept;
};
using ResultBox = std::unique_ptr<const ValidationResult, ResultRelease>;

// The result that make() returns, built in `memory` (room for a ValidationResult, aligned for
// it), which the caller frees after the box: the box only destroys the result. Throws what
// make() throws, and then `memory` holds nothing.
template <class Make>
ResultBox build_result(void* memory, Make&& make);

// The slots of one batch. The object holds the block while the batch runs; every result built
// in it holds the block too, so that the block lives until the last of them is freed,
// whichever of this object and the results goes last. A result is built in its slot by the
// thread that validates it and later taken out, as a box, by the caller; one never taken is
// freed with this object. Each slot may have room for something else of the caller's beside
// its result (the object that will hold the result, say), which then takes no allocation of
// its own and goes with the block.
class ResultSlots {
 public:
  // Room for `count` results, each with `extra_bytes` beside it (aligned for any type). Throws
  // std::bad_alloc.
  explicit ResultSlots(std::size_t count, std::size_t extra_bytes = 0);
  ResultSlots(const ResultSlots&) = delete;
  ResultSlots& operator=(const ResultSlots&) = delete;
  ~ResultSlots();

  // Builds the result that make() returns in slot i. Call it at most once per slot; safe from
  // many threads at once for different slots. When make() throws, the slot stays empty.
  template <class Make>
  void emplace(std::size_t i, Make&& make);

  // Whether slot i holds a result (taken out or not).
  bool built(std::size_t i) const noexcept { return state_[i] != kEmpty; }

  // The result of slot i, which must be built and not yet taken.
  ResultBox take(std::size_t i) noexcept;

  // The extra room of slot i. Memory of the block: it goes when the last result of the batch
  // is freed, so whatever lives there must end before (or as) the result of its slot is freed.
  void* extra(std::size_t i) const noexcept;

 private:
  enum : std::uint8_t { kEmpty, kBuilt, kTaken };
  static constexpr std::size_t extra_offset =
      (sizeof(ValidationResult) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
      alignof(std::max_align_t);

  ValidationResult* slot(std::size_t i) const noexcept;

  ResultRelease::Block* block_;
  std::uint8_t* state_;  // after the slots: the state of slot i
};

// True once for each hand-back that has fallen due; clears that state. Cheap enough to ask
// after every freed result.
bool hand_back_due() noexcept;

// Hands the free pages of the C library's heaps (those of the worker threads included) back to
// the system. Takes a while after a large batch: call it without holding other threads up.
void give_back_free_memory() noexcept;

namespace detail {
extern ResultRelease::Block in_place_marker;
}  // namespace detail

inline ResultRelease::Block* ResultRelease::in_place() noexcept { return &detail::in_place_marker; }

template <class Make>
ResultBox build_result(void* memory, Make&& make) {
  return ResultBox(new (memory) ValidationResult(std::forward<Make>(make)()),
                   ResultRelease{ResultRelease::in_place()});
}

template <class Make>
void ResultSlots::emplace(std::size_t i, Make&& make) {
  new (slot(i)) ValidationResult(std::forward<Make>(make)());
  state_[i] = kBuilt;
}

}  // namespace tessary::batch
