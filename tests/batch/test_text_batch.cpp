// The batch's text buffer: every text reads back with exactly its bytes however the buffer was
// sized and grown (on the heap, mapped, or moved from one to the other), the pages of each
// stretch of a mapped buffer go back to the system once the last text with bytes in it is
// released (and not before), releases from many threads at once keep the other texts readable,
// and nothing stays mapped after the buffer is gone.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "batch/pool.hpp"
#include "batch/text_batch.hpp"

namespace tessary::batch {
namespace {

const std::size_t kStretch = TextBatch::stretch_bytes();

// Whether the page at `address` is mapped in this process, and whether it is in memory.
struct Page {
  bool mapped;
  bool resident;
};
Page page_at(const char* address) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) / page * page);
  unsigned char resident = 0;
  if (mincore(start, 1, &resident) == 0) return Page{true, (resident & 1) != 0};
  EXPECT_EQ(errno, ENOMEM);
  return Page{false, false};
}
bool mapped(const char* address) { return page_at(address).mapped; }
bool resident(const char* address) { return page_at(address).resident; }

// Texts of sizes that fall inside a stretch, end on its last byte, straddle two stretches and
// span several, with empty texts between them; each is filled with its own pattern.
std::vector<std::string> mixed_texts() {
  std::vector<std::size_t> sizes = {0, 1,   17,       0, 0, kStretch - 18,    5,  kStretch * 3 + 7,
                                    0, 300, kStretch, 1, 0, 2 * kStretch - 1, 64, 0};
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::string text(sizes[i], '\0');
    for (std::size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char>('a' + (i + k) % 26);
    texts.push_back(std::move(text));
  }
  return texts;
}

TextBatch fill(const std::vector<std::string>& texts, bool reserve_first) {
  TextBatch batch;
  if (reserve_first) {
    std::size_t bytes = 0;
    for (const auto& text : texts) bytes += text.size();
    batch.reserve(texts.size(), bytes);
  }
  for (const auto& text : texts) batch.push_back(text);
  return batch;
}

TEST(TextBatch, TextsReadBackWhetherReservedOrGrown) {
  // Large enough to be mapped (a grown one starts on the heap and moves), and small.
  const auto large = mixed_texts();
  const std::vector<std::string> small = {"", "RETURN 1", "", std::string(300, 'x'), "é"};
  for (const auto* texts : {&large, &small}) {
    for (bool reserve_first : {true, false}) {
      SCOPED_TRACE(reserve_first);
      TextBatch batch = fill(*texts, reserve_first);
      ASSERT_EQ(batch.size(), texts->size());
      for (std::size_t i = 0; i < texts->size(); ++i) EXPECT_EQ(batch[i], (*texts)[i]) << i;
      for (std::size_t i = 0; i < texts->size(); ++i) batch.release(i);
    }
  }
  TextBatch empty;
  EXPECT_EQ(empty.size(), 0u);
  TextBatch only_empty_texts = fill({"", "", ""}, true);
  ASSERT_EQ(only_empty_texts.size(), 3u);
  EXPECT_TRUE(only_empty_texts[1].empty());
  only_empty_texts.release(1);
}

TEST(TextBatch, AStretchGoesBackWhenItsLastTextIsReleased) {
  // After a text that makes the buffer large enough to be mapped (and fills stretches 0 to 3):
  // one that fills most of stretch 4, one that straddles stretches 4 and 5, one in stretch 5.
  std::vector<std::string> texts = {std::string(TextBatch::mapped_from_bytes(), '-'),
                                    std::string(kStretch - 10, 'a'), std::string(20, 'b'),
                                    std::string(30, 'c')};
  TextBatch batch = fill(texts, true);
  const char* stretch4 = batch[1].data();
  const char* stretch5 = stretch4 + kStretch;
  batch.release(1);
  EXPECT_TRUE(resident(stretch4)) << "the straddling text still has bytes in stretch 4";
  EXPECT_EQ(batch[2], texts[2]);
  batch.release(3);
  EXPECT_TRUE(resident(stretch5));
  EXPECT_EQ(batch[2], texts[2]);
  batch.release(2);
  EXPECT_FALSE(resident(stretch4));
  EXPECT_FALSE(resident(stretch5));
  EXPECT_TRUE(resident(batch[0].data()));
  EXPECT_EQ(batch[0], texts[0]);
}

TEST(TextBatch, ReleasesFromThePoolKeepTheOtherTextsWhole) {
  std::vector<std::string> texts;
  for (int round = 0; round < 40; ++round) {
    for (const auto& text : mixed_texts()) texts.push_back(text.substr(0, 3000 + round));
  }
  TextBatch batch = fill(texts, false);
  std::vector<int> same(texts.size());
  pool::parallel_for(texts.size(), [&](std::size_t i) {
    same[i] = batch[i] == texts[i];
    batch.release(i);
  });
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_TRUE(same[i]) << i;
}

TEST(TextBatch, MovingAndDestroyingLeaveNothingMapped) {
  const auto texts = mixed_texts();
  TextBatch batch = fill(texts, true);
  const char* base = batch[1].data();
  batch.release(1);  // some texts released, the others never
  TextBatch moved = std::move(batch);
  EXPECT_EQ(batch.size(), 0u);
  EXPECT_EQ(moved[7], texts[7]);
  TextBatch assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned[13], texts[13]);
  EXPECT_TRUE(mapped(base + kStretch));
  assigned = TextBatch();
  EXPECT_FALSE(mapped(base + kStretch));
}

TEST(TextBatch, AHandedBackStretchStaysMappedUntilTheBufferGoes) {
  // Its pages are gone, but its addresses stay the buffer's, so that nothing else can be mapped
  // there before the whole buffer is unmapped.
  std::vector<std::string> texts = {std::string(kStretch, 'a'), std::string(kStretch, 'b'),
                                    std::string(kStretch + 5, 'c'), std::string(kStretch, 'd')};
  auto batch = std::make_unique<TextBatch>(fill(texts, true));
  const char* stretch1 = batch->operator[](1).data();
  batch->release(1);
  EXPECT_TRUE(mapped(stretch1));
  EXPECT_FALSE(resident(stretch1));
  EXPECT_EQ((*batch)[2], texts[2]);
  batch.reset();
  EXPECT_FALSE(mapped(stretch1));
  EXPECT_FALSE(mapped(stretch1 - kStretch));
  EXPECT_FALSE(mapped(stretch1 + kStretch));
}

}  // namespace
}  // namespace tessary::batch
