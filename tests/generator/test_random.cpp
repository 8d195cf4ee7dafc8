// The random source: xoshiro256++ outputs, SplitMix64 seeding and the exact number of outputs
// each draw consumes. Expected values were computed independently with arbitrary-precision
// integer arithmetic from the published algorithms.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "generator/random.hpp"

namespace tessary {
namespace {

// How many outputs `draw` consumed: the number of plain steps that lead a twin to the same state.
template <class Draw>
int outputs_consumed(std::uint64_t seed, Draw draw) {
  Rng rng(seed);
  draw(rng);
  Rng twin(seed);
  for (int k = 0; k <= 8; ++k) {
    if (twin.state() == rng.state()) return k;
    twin.next_word();
  }
  return -1;
}

TEST(Rng, SeedStateOfZero) {
  const Rng::State want = {0xe220a8397b1dcdafULL, 0x6e789e6aa1b965f4ULL, 0x6c45d188009454fULL,
                           0xf88bb8a8724c81ecULL};
  EXPECT_EQ(Rng::seed_state(0), want);
  const unsigned char zeros[32] = {};
  EXPECT_EQ(Rng::state_from_bytes(zeros), want);
  unsigned char bytes[32] = {};
  bytes[0] = 0x01;
  bytes[9] = 0x02;
  bytes[31] = 0x80;
  const Rng::State from = Rng::state_from_bytes(bytes);
  EXPECT_EQ(from, (Rng::State{0x01, 0x0200, 0, 0x8000000000000000ULL}));
}

TEST(Rng, FirstOutputs) {
  struct Case {
    std::uint64_t seed;
    std::uint64_t words[4];
  };
  const Case cases[] = {
      {0ull,
       {0x53175d61490b23dfull, 0x61da6f3dc380d507ull, 0x5c0fdf91ec9a7bfcull,
        0x02eebf8c3bbe5e1aull}},
      {1ull,
       {0xcfc5d07f6f03c29bull, 0xbf424132963fe08dull, 0x19a37d5757aaf520ull,
        0xbf08119f05cd56d6ull}},
      {3735928559ull,
       {0x0c520eb8fea98edeull, 0x2b74a6338b80e0e2ull, 0xbe238770c3795322ull,
        0x5f235f98a244ea97ull}},
  };
  for (const Case& c : cases) {
    Rng rng(c.seed);
    for (std::uint64_t w : c.words) EXPECT_EQ(rng.next_word(), w) << c.seed;
  }
  Rng a(0), b(0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.next_word(), b.next_word());
}

TEST(Rng, HalfWordsAndTopBits) {
  Rng rng(0);
  EXPECT_EQ(rng.next_half_word(), 0x53175d61u);
  EXPECT_EQ(rng.top_bits(1), 0x61da6f3dc380d507ull >> 63);
  EXPECT_EQ(rng.top_bits(2), 0x5c0fdf91ec9a7bfcull >> 62);
  EXPECT_TRUE(rng.chance_quarter());  // 0x02ee... has both top bits clear
  Rng one(1);
  EXPECT_FALSE(one.chance_quarter());  // 0xcfc5...
}

TEST(Rng, IndexRanges) {
  struct Case {
    std::uint64_t seed;
    std::uint64_t n;
    std::uint64_t want;
    int consumed;
  };
  const Case cases[] = {
      {0, 0x1ull, 0ull, 1},
      {0, 0x2ull, 0ull, 1},
      {0, 0x3ull, 0ull, 1},
      {0, 0x4ull, 1ull, 1},
      {0, 0x5ull, 1ull, 1},
      {0, 0x7ull, 2ull, 1},
      {0, 0x64ull, 32ull, 1},
      {0, 0xffffffffull, 1394040161ull, 2},
      {0, 0x80000001ull, 697020081ull, 2},
      {1, 0x2ull, 1ull, 1},
      {1, 0x3ull, 2ull, 1},
      {1, 0x4ull, 3ull, 1},
      {1, 0x5ull, 4ull, 1},
      {1, 0x7ull, 5ull, 1},
      {1, 0x64ull, 81ull, 1},
      {1, 0xffffffffull, 3485847678ull, 2},
      {1, 0x80000001ull, 1742923840ull, 1},
      {2, 0x5ull, 3ull, 1},
      {2, 0x64ull, 76ull, 1},
      {2, 0xffffffffull, 3286660483ull, 2},
      {3, 0x3ull, 0ull, 1},
      {3, 0x64ull, 5ull, 1},
      {3, 0x80000001ull, 110491080ull, 2},
  };
  for (const Case& c : cases) {
    Rng rng(c.seed);
    EXPECT_EQ(rng.random_range(c.n), c.want) << c.seed << " " << c.n;
    EXPECT_EQ(outputs_consumed(c.seed, [&](Rng& r) { r.random_range(c.n); }), c.consumed)
        << c.seed << " " << c.n;
  }
}

TEST(Rng, PowerOfTwoRangesEqualTopBits) {
  for (std::uint64_t seed = 0; seed < 50; ++seed) {
    for (unsigned k = 1; k <= 8; ++k) {
      Rng a(seed), b(seed);
      ASSERT_EQ(a.random_range(std::uint64_t{1} << k), b.top_bits(k));
      ASSERT_EQ(a.state(), b.state());
    }
  }
}

// The second draw of the 32-bit path, checked against the rule itself on many outputs: it is
// taken exactly when the low half of the product exceeds 2^32 - n.
TEST(Rng, IndexRangeSecondDrawRule) {
  for (std::uint64_t n : {3ull, 5ull, 1000003ull, 0xfffffff0ull}) {
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
      Rng probe(seed);
      const std::uint64_t x = probe.next_word() >> 32;
      const std::uint64_t y = probe.next_word() >> 32;
      const std::uint64_t lo = (x * n) & 0xffffffffull;
      const bool second = lo > ((0x100000000ull - n) & 0xffffffffull);
      std::uint64_t want = (x * n) >> 32;
      if (second && lo + ((y * n) >> 32) >= 0x100000000ull) ++want;
      Rng rng(seed);
      ASSERT_EQ(rng.random_range(n), want);
      ASSERT_EQ(outputs_consumed(seed, [&](Rng& r) { r.random_range(n); }), second ? 2 : 1);
    }
  }
}

// Index ranges of 2^32 or more take whole words and 128-bit products, with the same rule.
TEST(Rng, WideIndexRanges) {
  using u128 = unsigned __int128;
  for (std::uint64_t n : {0x100000000ull, 0x10000000003ull, 0xfffffffffffffff1ull}) {
    int seconds = 0;
    for (std::uint64_t seed = 0; seed < 300; ++seed) {
      Rng probe(seed);
      const std::uint64_t x = probe.next_word();
      const std::uint64_t y = probe.next_word();
      const u128 m = u128{x} * n;
      const auto lo = static_cast<std::uint64_t>(m);
      const bool second = lo > 0 - n;
      std::uint64_t want = static_cast<std::uint64_t>(m >> 64);
      if (second && (u128{lo} + ((u128{y} * n) >> 64)) >> 64) ++want;
      Rng rng(seed);
      ASSERT_EQ(rng.random_range(n), want) << n;
      ASSERT_LT(want, n);
      ASSERT_EQ(outputs_consumed(seed, [&](Rng& r) { r.random_range(n); }), second ? 2 : 1);
      seconds += second;
    }
    if (n == 0xfffffffffffffff1ull) EXPECT_GT(seconds, 250);  // nearly every draw
  }
  // 2^32 is a power of two: its result is the top 32 bits.
  Rng a(4), b(4);
  EXPECT_EQ(a.random_range(0x100000000ull), b.top_bits(32));
}

TEST(Rng, IntegerRanges) {
  struct Case {
    std::uint64_t seed;
    std::int64_t lo, hi, want;
    int consumed;
  };
  const Case cases[] = {
      {0, 1ll, 50ll, 17ll, 1},
      {0, 1ll, 100ll, 33ll, 1},
      {0, -5ll, 5ll, -2ll, 1},
      {0, 0ll, 4611686018427387904ll, 1496839225507760376ll, 1},
      {0, INT64_MIN, 4611686018427387904ll, -4732854360331494681ll, 2},
      {0, 7ll, 7ll, 7ll, 1},
      {1, 1ll, 50ll, 41ll, 1},
      {1, 1ll, 100ll, 82ll, 1},
      {1, -5ll, 5ll, 3ll, 1},
      {1, INT64_MIN, 4611686018427387904ll, 2005329299648991733ll, 1},
      {2, 1ll, 50ll, 39ll, 1},
      {2, 1ll, 100ll, 77ll, 1},
      {2, INT64_MIN, 4611686018427387904ll, 1363702434309061920ll, 2},
  };
  for (const Case& c : cases) {
    Rng rng(c.seed);
    EXPECT_EQ(rng.random_range(c.lo, c.hi), c.want) << c.seed << " " << c.lo << " " << c.hi;
    EXPECT_EQ(outputs_consumed(c.seed, [&](Rng& r) { r.random_range(c.lo, c.hi); }), c.consumed);
  }
  // The full 64-bit range adds one whole output to lo.
  Rng full(0);
  EXPECT_EQ(full.random_range(INT64_MIN, INT64_MAX),
            static_cast<std::int64_t>(0x53175d61490b23dfull + 0x8000000000000000ull));
  // Small ranges never take the 32-bit path: the result comes from the whole word.
  Rng small(0);
  EXPECT_EQ(small.random_range(std::int64_t{1}, std::int64_t{50}),
            1 + static_cast<std::int64_t>(
                    (static_cast<unsigned __int128>(0x53175d61490b23dfull) * 50) >> 64));
}

TEST(Rng, FloydSample) {
  struct Case {
    std::uint64_t seed;
    std::uint32_t length, amount;
    std::vector<std::uint32_t> want;
    int consumed;
  };
  const std::vector<Case> cases = {
      {0, 5u, 1u, {1}, 1},
      {0, 3u, 3u, {2, 0, 1}, 3},
      {0, 5u, 3u, {0, 4, 1}, 3},
      {0, 10u, 2u, {2, 3}, 2},
      {0, 4294967295u, 3u, {1394040160, 1544544144, 2127168746}, 6},
      {1, 5u, 1u, {4}, 1},
      {1, 3u, 3u, {2, 1, 0}, 3},
      {1, 5u, 3u, {3, 2, 0}, 3},
      {1, 10u, 2u, {9, 7}, 2},
      {2, 3u, 3u, {0, 2, 1}, 3},
      {2, 5u, 3u, {4, 2, 3}, 3},
      {3, 3u, 3u, {0, 1, 2}, 3},
      {3, 5u, 3u, {0, 2, 4}, 3},
      {3, 10u, 2u, {0, 6}, 2},
  };
  for (const Case& c : cases) {
    Rng rng(c.seed);
    EXPECT_EQ(rng.sample(c.length, c.amount), c.want) << c.seed << " " << c.length;
    EXPECT_EQ(outputs_consumed(c.seed, [&](Rng& r) { r.sample(c.length, c.amount); }), c.consumed);
  }
  // sample(5, 1) is random_range(5).
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    Rng a(seed), b(seed);
    ASSERT_EQ(a.sample(5, 1),
              (std::vector<std::uint32_t>{static_cast<std::uint32_t>(b.random_range(5))}));
  }
  // Always distinct indices below the length.
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    Rng rng(seed);
    for (std::uint32_t length = 1; length < 8; ++length) {
      for (std::uint32_t amount = 1; amount <= std::min(length, 3u); ++amount) {
        const auto got = rng.sample(length, amount);
        ASSERT_EQ(got.size(), amount);
        ASSERT_EQ(std::set<std::uint32_t>(got.begin(), got.end()).size(), amount);
        for (auto v : got) ASSERT_LT(v, length);
      }
    }
  }
}

TEST(Rng, OperatingSystemSeedsDiffer) {
  const Rng::State a = Rng::from_os_rng();
  const Rng::State b = Rng::from_os_rng();
  EXPECT_NE(a, b);
  EXPECT_NE(a, (Rng::State{0, 0, 0, 0}));
}

}  // namespace
}  // namespace tessary
