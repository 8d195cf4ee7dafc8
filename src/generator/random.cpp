// xoshiro256++ with SplitMix64 seeding, operating-system entropy and the draw primitives.
#include "generator/random.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tessary {

namespace {

constexpr std::uint64_t rotl(std::uint64_t v, int k) { return (v << k) | (v >> (64 - k)); }

using u128 = unsigned __int128;

[[noreturn]] void entropy_failure(int err) {
  throw std::runtime_error(std::string("from_os_rng failed: ") + std::strerror(err));
}

// Fills the buffer from /dev/urandom once /dev/random reports that the pool is ready.
void fill_from_device(unsigned char* buf, std::size_t len) {
  int random_fd;
  do {
    random_fd = ::open("/dev/random", O_RDONLY | O_CLOEXEC);
  } while (random_fd < 0 && errno == EINTR);
  if (random_fd < 0) entropy_failure(errno);
  pollfd pfd{random_fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&pfd, 1, -1);
  } while (ready < 0 && (errno == EINTR || errno == EAGAIN));
  const int poll_err = errno;
  ::close(random_fd);
  if (ready < 0) entropy_failure(poll_err);

  int fd;
  do {
    fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) entropy_failure(errno);
  std::size_t filled = 0;
  while (filled < len) {
    const ssize_t n = ::read(fd, buf + filled, len - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      entropy_failure(err);
    }
    if (n == 0) {
      ::close(fd);
      entropy_failure(EIO);
    }
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// Fills the buffer with getrandom, again after an interruption and for any part not yet filled;
// falls back to the device where the system call does not exist.
void fill_entropy(unsigned char* buf, std::size_t len) {
  std::size_t filled = 0;
  while (filled < len) {
    const ssize_t n = ::getrandom(buf + filled, len - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSYS) {
        fill_from_device(buf, len);
        return;
      }
      entropy_failure(errno);
    }
    filled += static_cast<std::size_t>(n);
  }
}

}  // namespace

Rng::State Rng::seed_state(std::uint64_t seed) {
  State s{};
  std::uint64_t z = seed;
  for (auto& word : s) {
    z += 0x9e3779b97f4a7c15ULL;
    std::uint64_t x = z;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    word = x ^ (x >> 31);
  }
  return s;
}

Rng::State Rng::state_from_bytes(const unsigned char (&bytes)[32]) {
  State s{};
  for (int w = 0; w < 4; ++w) {
    std::uint64_t v = 0;
    for (int b = 7; b >= 0; --b) v = (v << 8) | bytes[w * 8 + b];
    s[w] = v;
  }
  if ((s[0] | s[1] | s[2] | s[3]) == 0) return seed_state(0);
  return s;
}

Rng::State Rng::from_os_rng() {
  unsigned char bytes[32];
  fill_entropy(bytes, sizeof bytes);
  return state_from_bytes(bytes);
}

std::uint64_t Rng::next_word() {
  const std::uint64_t result = rotl(s_[0] + s_[3], 23) + s_[0];
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

std::uint64_t Rng::random_range(std::uint64_t n) {
  if (n <= 0xFFFFFFFFULL) {
    const std::uint64_t m = std::uint64_t{next_half_word()} * n;
    std::uint64_t hi = m >> 32;
    const std::uint64_t lo = m & 0xFFFFFFFFULL;
    const std::uint64_t threshold = (0x100000000ULL - n) & 0xFFFFFFFFULL;
    if (lo > threshold) {
      const std::uint64_t h2 = (std::uint64_t{next_half_word()} * n) >> 32;
      if (lo + h2 >= 0x100000000ULL) ++hi;
    }
    return hi;
  }
  const u128 m = u128{next_word()} * n;
  std::uint64_t hi = static_cast<std::uint64_t>(m >> 64);
  const auto lo = static_cast<std::uint64_t>(m);
  if (lo > 0 - n) {
    const auto h2 = static_cast<std::uint64_t>((u128{next_word()} * n) >> 64);
    if (lo + h2 < lo) ++hi;  // the sum carried past 2^64
  }
  return hi;
}

std::int64_t Rng::random_range(std::int64_t lo, std::int64_t hi) {
  const std::uint64_t r = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo) + 1;
  if (r == 0) return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) + next_word());
  const u128 m = u128{next_word()} * r;
  std::uint64_t h = static_cast<std::uint64_t>(m >> 64);
  const auto l = static_cast<std::uint64_t>(m);
  if (l > 0 - r) {
    const auto h2 = static_cast<std::uint64_t>((u128{next_word()} * r) >> 64);
    if (l + h2 < l) ++h;
  }
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) + h);
}

std::vector<std::uint32_t> Rng::sample(std::uint32_t length, std::uint32_t amount) {
  std::vector<std::uint32_t> out;
  out.reserve(amount);
  for (std::uint64_t j = std::uint64_t{length} - amount; j < length; ++j) {
    const auto t = static_cast<std::uint32_t>(random_range(j + 1));
    for (auto& v : out) {
      if (v == t) {
        v = static_cast<std::uint32_t>(j);
        break;
      }
    }
    out.push_back(t);
  }
  return out;
}

}  // namespace tessary
