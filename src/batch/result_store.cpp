#include "batch/result_store.hpp"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "batch/mapping.hpp"

namespace tessary::batch {

// One batch's slots, with the count of the holders that keep them: every result built in a
// slot and not yet freed, and the ResultSlots object while it lives.
struct ResultRelease::Block {
  std::atomic<std::size_t> holders{0};
  std::size_t count = 0;
  std::size_t stride = 0;  // the bytes of one slot: its result, then the caller's extra room
  unsigned char* slots = nullptr;
  bool mapped = false;  // the slots are a mapping of their own (else a heap block, or nothing)
  // The heap memory of this batch's results freed since its last hand-back.
  std::atomic<std::size_t> freed_bytes{0};
};

namespace {

using Block = ResultRelease::Block;

// Blocks of at least this many slots are mapped of their own; smaller ones live on the heap.
constexpr std::size_t kMapFromCount = 8192;

// The heap memory of all batch results freed since the last hand-back.
std::atomic<std::size_t> g_freed_bytes{0};
std::atomic<bool> g_hand_back_due{false};

// A text up to this long is held inside the string itself.
constexpr std::size_t kInlineCapacity = std::string().capacity();

std::size_t heap_bytes(const std::string& text) noexcept {
  return text.capacity() > kInlineCapacity ? text.capacity() + 1 : 0;
}

// About what the heaps get back when the result is destroyed.
std::size_t heap_bytes(const ValidationResult& r) noexcept {
  std::size_t bytes = r.diagnostics.capacity() * sizeof(ValidationDiagnostic);
  if (r.fixed_query) bytes += heap_bytes(*r.fixed_query);
  for (const ValidationDiagnostic& d : r.diagnostics) {
    bytes += heap_bytes(d.message);
    if (d.suggestion) {
      bytes += heap_bytes(d.suggestion->original) + heap_bytes(d.suggestion->replacement) +
               heap_bytes(d.suggestion->description);
    }
  }
  return bytes;
}

// Counts a freed result's heap memory; a hand-back falls due when the batch's or all batches'
// count reaches its bound. (Results are freed one at a time in practice: the counters need to
// be exact only then.)
void count_freed(Block& block, std::size_t bytes) noexcept {
  const std::size_t own = block.freed_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  const std::size_t all = g_freed_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  if (own >= kBatchHandBackBytes || all >= kHandBackBytes) {
    block.freed_bytes.store(0, std::memory_order_relaxed);
    g_freed_bytes.store(0, std::memory_order_relaxed);
    g_hand_back_due.store(true, std::memory_order_relaxed);
  }
}

// The bytes of `count` slots of `stride` bytes followed by one flag per slot.
std::size_t slots_bytes(std::size_t count, std::size_t stride) noexcept {
  return count * (stride + 1);
}

// Memory for `count` slots and their flags, all flags 0: a mapping of its own for many (handed
// back whole, whatever else the heap holds; its pages are first touched by the workers that
// fill the slots), a heap block for few. Throws std::bad_alloc.
unsigned char* allocate_slots(std::size_t count, std::size_t stride, bool& mapped) {
  if (count > std::numeric_limits<std::size_t>::max() / (stride + 1)) throw std::bad_alloc();
  const std::size_t bytes = slots_bytes(count, stride);
  mapped = count >= kMapFromCount;
  void* memory = nullptr;
  if (mapped) {
    memory = map_block(bytes);
  } else {
    memory = std::malloc(bytes);
    if (memory == nullptr) throw std::bad_alloc();
    std::memset(static_cast<unsigned char*>(memory) + count * stride, 0, count);
  }
  return static_cast<unsigned char*>(memory);
}

// Gives up `holders` holds of the block; the last one frees it.
void drop(Block* block, std::size_t holders) noexcept {
  if (block->holders.fetch_sub(holders, std::memory_order_acq_rel) != holders) return;
  if (block->mapped) {
    unmap_block(block->slots, slots_bytes(block->count, block->stride));
  } else {
    if (block->slots != nullptr) count_freed(*block, slots_bytes(block->count, block->stride));
    std::free(block->slots);
  }
  delete block;
}

}  // namespace

void ResultRelease::operator()(const ValidationResult* result) const noexcept {
  if (block == in_place()) {
    result->~ValidationResult();
    return;
  }
  const std::size_t bytes = heap_bytes(*result);
  result->~ValidationResult();
  count_freed(*block, bytes);
  drop(block, 1);
}

bool hand_back_due() noexcept {
  return g_hand_back_due.load(std::memory_order_relaxed) &&
         g_hand_back_due.exchange(false, std::memory_order_relaxed);
}

void give_back_free_memory() noexcept { malloc_trim(0); }

namespace detail {

// Marks the results built in place: never a batch's block.
ResultRelease::Block in_place_marker;

}  // namespace detail

ResultSlots::ResultSlots(std::size_t count, std::size_t extra_bytes) : state_(nullptr) {
  constexpr std::size_t kAlign = alignof(std::max_align_t);
  if (extra_bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  auto block = std::make_unique<Block>();
  // Every slot counts as a holder from the start, so that the workers filling them share no
  // counter; the destructor gives back the holds of the slots that were never built.
  block->holders.store(count + 1, std::memory_order_relaxed);
  block->count = count;
  block->stride = (extra_offset + extra_bytes + kAlign - 1) / kAlign * kAlign;
  if (count != 0) {
    block->slots = allocate_slots(count, block->stride, block->mapped);
    state_ = block->slots + count * block->stride;
  }
  block_ = block.release();
}

ResultSlots::~ResultSlots() {
  std::size_t unbuilt = 0;
  for (std::size_t i = 0; i < block_->count; ++i) {
    if (state_[i] == kBuilt) {
      take(i);  // freed at once
    } else {
      unbuilt += state_[i] == kEmpty;
    }
  }
  drop(block_, unbuilt + 1);
}

ResultBox ResultSlots::take(std::size_t i) noexcept {
  state_[i] = kTaken;
  return ResultBox(slot(i), ResultRelease{block_});
}

ValidationResult* ResultSlots::slot(std::size_t i) const noexcept {
  return reinterpret_cast<ValidationResult*>(block_->slots + i * block_->stride);
}

void* ResultSlots::extra(std::size_t i) const noexcept {
  return block_->slots + i * block_->stride + extra_offset;
}

}  // namespace tessary::batch
