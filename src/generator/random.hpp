#pragma once
// The generator's random source: xoshiro256++ seeded by SplitMix64 or from operating-system
// entropy, and the draw primitives, each consuming a fixed, documented number of outputs so that
// a seeded generator reproduces its queries draw for draw.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tessary {

class Rng {
 public:
  using State = std::array<std::uint64_t, 4>;

  // SplitMix64 expansion of a 64-bit seed.
  static State seed_state(std::uint64_t seed);
  // The state read from 32 bytes (four little-endian words); all zero gives seed_state(0).
  static State state_from_bytes(const unsigned char (&bytes)[32]);
  // 32 bytes of operating-system entropy; throws std::runtime_error("from_os_rng failed: ...")
  // when the entropy source fails.
  static State from_os_rng();

  explicit Rng(State state) : s_(state) {}
  explicit Rng(std::uint64_t seed) : s_(seed_state(seed)) {}

  const State& state() const { return s_; }

  std::uint64_t next_word();        // 1 output
  std::uint32_t next_half_word() {  // 1 output, its upper 32 bits
    return static_cast<std::uint32_t>(next_word() >> 32);
  }
  // An index in [0, n), n >= 1: 1 output, or 2 when the first lands in the top n - 1 values of
  // the low word. n below 2^32 uses 32-bit halves, larger n whole words with 128-bit products.
  std::uint64_t random_range(std::uint64_t n);
  // A signed integer in [lo, hi], lo <= hi: always whole words, 1 or 2 outputs.
  std::int64_t random_range(std::int64_t lo, std::int64_t hi);
  // The top k bits (1 <= k <= 64) of one output.
  std::uint64_t top_bits(unsigned k) { return next_word() >> (64 - k); }
  // True with probability 1/4: the top two bits of one output are zero.
  bool chance_quarter() { return next_word() < (std::uint64_t{1} << 62); }
  // `amount` distinct indices below `length` (1 <= amount <= length < 2^32, amount < 12) by
  // Floyd's algorithm, in the order it produces them.
  std::vector<std::uint32_t> sample(std::uint32_t length, std::uint32_t amount);

 private:
  State s_;
};

}  // namespace tessary
