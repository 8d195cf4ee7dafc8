#pragma once
// Insertion-ordered string-keyed map and set. Iteration follows first insertion; writing a key
// again keeps its place and takes the new value. Lookups are hashed, so building a map of n keys
// costs O(n). Entries are never removed.
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace tessary {

template <class V>
class OrderedMap {
 public:
  using value_type = std::pair<std::string, V>;

  OrderedMap() = default;
  OrderedMap(const OrderedMap& other) : entries_(other.entries_) { reindex(); }
  OrderedMap(OrderedMap&& other) noexcept = default;  // deque moves keep element addresses
  OrderedMap& operator=(const OrderedMap& other) {
    if (this != &other) {
      entries_ = other.entries_;
      reindex();
    }
    return *this;
  }
  OrderedMap& operator=(OrderedMap&& other) noexcept = default;

  // Sets key to value; a new key goes last, an existing one keeps its place.
  V& insert_or_assign(std::string_view key, V value) {
    if (V* found = find(key)) {
      *found = std::move(value);
      return *found;
    }
    entries_.emplace_back(std::string(key), std::move(value));
    index_.emplace(std::string_view(entries_.back().first), entries_.size() - 1);
    return entries_.back().second;
  }
  // The entry of key, created with a default value at the end when absent.
  V& operator[](std::string_view key) {
    if (V* found = find(key)) return *found;
    return insert_or_assign(key, V{});
  }

  V* find(std::string_view key) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  const V* find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  bool contains(std::string_view key) const { return index_.count(key) != 0; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void clear() {
    index_.clear();
    entries_.clear();
  }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

 private:
  void reindex() {
    index_.clear();
    index_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
  }
  std::deque<value_type> entries_;
  std::unordered_map<std::string_view, std::size_t> index_;
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
    iterator& operator++() { ++it_; return *this; }
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
