// The batch's texts and its mapped blocks: every text reads back as exactly the bytes it views,
// with its keeper, from any thread, whether the views live on the heap or in a mapping, after
// moves too; a
// mapped block is zero-filled and writable, starts on a huge-page boundary once it is large,
// and leaves nothing mapped once it is unmapped.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "batch/mapping.hpp"
#include "batch/pool.hpp"
#include "batch/text_batch.hpp"

namespace tessary::batch {
namespace {

// Whether the page at `address` is mapped in this process.
bool mapped(const void* address) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) / page * page);
  unsigned char resident = 0;
  if (mincore(start, 1, &resident) == 0) return true;
  EXPECT_EQ(errno, ENOMEM);
  return false;
}

TEST(TextBatch, ViewsReadBackOnAnyThreadAndAfterMoves) {
  // Counts on the heap, at the bound and in a mapping; texts empty, short and long, each with
  // its own bytes.
  for (std::size_t count : {std::size_t{1}, std::size_t{100}, TextBatch::kMappedFromCount - 1,
                            TextBatch::kMappedFromCount, 3 * TextBatch::kMappedFromCount + 5}) {
    SCOPED_TRACE(count);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
      texts.push_back(std::string(i % 7 == 0 ? 0 : i % 300, static_cast<char>('a' + i % 26)));
    }
    TextBatch batch(count);
    for (std::string& text : texts) batch.push_back(text, &text);
    TextBatch moved(std::move(batch));
    EXPECT_EQ(batch.size(), 0u);
    TextBatch texts_batch;
    texts_batch = std::move(moved);
    ASSERT_EQ(texts_batch.size(), count);
    std::vector<int> same(count);
    pool::parallel_for(count, [&](std::size_t i) {
      same[i] = texts_batch[i].data() == texts[i].data() && texts_batch[i] == texts[i] &&
                texts_batch.keeper(i) == &texts[i];
    });
    for (std::size_t i = 0; i < count; ++i) EXPECT_TRUE(same[i]) << i;
  }
  EXPECT_EQ(TextBatch().size(), 0u);
  EXPECT_EQ(TextBatch(0).size(), 0u);
}

TEST(MappedBlock, ZeroFilledAlignedAndGoneOnceUnmapped) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  for (std::size_t bytes : {std::size_t{1}, std::size_t{5000}, kHuge - 1, kHuge, 5 * kHuge + 3}) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<unsigned char*>(map_block(bytes));
    if (bytes >= kHuge) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHuge, 0u);
    }
    bool zero = true;
    for (std::size_t i = 0; i < bytes; i += 997) zero = zero && block[i] == 0;
    EXPECT_TRUE(zero && block[bytes - 1] == 0);
    block[0] = 1;
    block[bytes - 1] = 2;
    unmap_block(block, bytes);
    EXPECT_FALSE(mapped(block));
    EXPECT_FALSE(mapped(block + bytes - 1));
  }
  EXPECT_THROW(map_block(0), std::bad_alloc);
}

}  // namespace
}  // namespace tessary::batch
