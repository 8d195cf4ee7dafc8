#pragma once
// Insertion-ordered string-keyed map and set. Iteration follows first insertion; writing a key
// again keeps its place and takes the new value. Lookups are hashed, so building a map of n keys
// costs O(n). Entries are never removed.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary {

// A 64-bit hash of a name, eight bytes at a time.
inline std::uint64_t name_hash(std::string_view name) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
  const char* p = name.data();
  std::size_t n = name.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
  }
  // The last n < 8 bytes, the first in the low bits.
  std::uint64_t tail = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Two loads that may overlap: the bytes they share land at the same places.
    if (n >= 4) {
      std::uint32_t low;
      std::uint32_t high;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      tail = low | (std::uint64_t{high} << (8 * (n - 4)));
    } else if (n > 0) {
      tail = std::uint64_t{static_cast<unsigned char>(p[0])} |
             std::uint64_t{static_cast<unsigned char>(p[n / 2])} << (8 * (n / 2)) |
             std::uint64_t{static_cast<unsigned char>(p[n - 1])} << (8 * (n - 1));
    }
  } else {
    for (std::size_t i = 0; i < n; ++i)
      tail |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  h = (h ^ tail) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

// Whether two names are equal, compared in place eight bytes at a time: names are short, and a
// call of memcmp would cost more than the comparison.
inline bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  std::size_t n = a.size();
  for (; n >= 8; p += 8, q += 8, n -= 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, q, 8);
    if (x != y) return false;
  }
  if (n >= 4) {
    // Two loads that may overlap cover the last four to seven bytes.
    std::uint32_t x[2];
    std::uint32_t y[2];
    std::memcpy(&x[0], p, 4);
    std::memcpy(&x[1], p + n - 4, 4);
    std::memcpy(&y[0], q, 4);
    std::memcpy(&y[1], q + n - 4, 4);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
  }
  // The first, middle and last of up to three bytes are all of them.
  return n == 0 || (p[0] == q[0] && p[n / 2] == q[n / 2] && p[n - 1] == q[n - 1]);
}

template <class V>
class OrderedMap {
 public:
  using value_type = std::pair<std::string, V>;

  OrderedMap() = default;
  // A copy indexes its own entries; a moved deque keeps its entries where they are, and with
  // them the index.
  OrderedMap(const OrderedMap& other) : entries_(other.entries_) { reindex(other.slots_.size()); }
  OrderedMap(OrderedMap&& other) noexcept = default;
  OrderedMap& operator=(const OrderedMap& other) {
    if (this != &other) *this = OrderedMap(other);
    return *this;
  }
  OrderedMap& operator=(OrderedMap&& other) noexcept = default;

  // Sets key to value; a new key goes last, an existing one keeps its place.
  V& insert_or_assign(std::string_view key, V value) {
    if (V* found = find(key)) {
      *found = std::move(value);
      return *found;
    }
    if (2 * (entries_.size() + 1) > slots_.size()) reindex(slots_.empty() ? 8 : 2 * slots_.size());
    entries_.emplace_back(std::string(key), std::move(value));
    slots_[free_slot(key)] = &entries_.back();
    return entries_.back().second;
  }
  // The entry of key, created with a default value at the end when absent.
  V& operator[](std::string_view key) {
    if (V* found = find(key)) return *found;
    return insert_or_assign(key, V{});
  }

  V* find(std::string_view key) {
    value_type* entry = lookup(key);
    return entry == nullptr ? nullptr : &entry->second;
  }
  const V* find(std::string_view key) const {
    const value_type* entry = lookup(key);
    return entry == nullptr ? nullptr : &entry->second;
  }
  bool contains(std::string_view key) const { return lookup(key) != nullptr; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void clear() {
    slots_.clear();
    entries_.clear();
  }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

 private:
  // The index is open-addressed: each slot holds the address of an entry (the deque never moves
  // its entries), or null when empty; there are a power of two slots, at least twice as many as
  // entries, and a key is looked for from the slot its hash names onwards, up to the first empty
  // one.
  value_type* lookup(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = name_hash(key) & mask;; i = (i + 1) & mask) {
      value_type* entry = slots_[i];
      if (entry == nullptr || same_name(entry->first, key)) return entry;
    }
  }
  std::size_t free_slot(std::string_view key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = name_hash(key) & mask;
    while (slots_[i] != nullptr) i = (i + 1) & mask;
    return i;
  }
  // Indexes every entry again in `count` slots (a power of two, or zero when there are none).
  void reindex(std::size_t count) {
    slots_.assign(count, nullptr);
    for (value_type& entry : entries_) slots_[free_slot(entry.first)] = &entry;
  }

  std::deque<value_type> entries_;
  std::vector<value_type*> slots_;
};

class OrderedSet {
 public:
  OrderedSet() = default;
  OrderedSet(std::initializer_list<std::string_view> items) {
    for (auto item : items) insert(item);
  }
  // Adds the item at the end unless present; returns whether it was added.
  bool insert(std::string_view item) {
    if (map_.contains(item)) return false;
    map_.insert_or_assign(item, Empty{});
    return true;
  }
  bool contains(std::string_view item) const { return map_.contains(item); }
  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.empty(); }

  class iterator {
   public:
    using Inner = typename std::deque<std::pair<std::string, char>>::const_iterator;
    explicit iterator(Inner it) : it_(it) {}
    const std::string& operator*() const { return it_->first; }
    const std::string* operator->() const { return &it_->first; }
    iterator& operator++() {
      ++it_;
      return *this;
    }
    bool operator==(const iterator& o) const { return it_ == o.it_; }
    bool operator!=(const iterator& o) const { return it_ != o.it_; }

   private:
    Inner it_;
  };
  iterator begin() const { return iterator(map_.begin()); }
  iterator end() const { return iterator(map_.end()); }

 private:
  using Empty = char;
  OrderedMap<Empty> map_;
};

}  // namespace tessary
