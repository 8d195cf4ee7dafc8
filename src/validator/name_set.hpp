#pragma once
// A set of names viewed from elsewhere (the query tree or the scope), searched linearly while it
// is small and through a hash index once it grows, so that long lists stay linear overall.
#include <cstddef>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tessary {

class NameSet {
 public:
  bool contains(std::string_view name) const {
    if (!index_.empty()) return index_.count(name) != 0;
    for (auto n : names_) {
      if (n == name) return true;
    }
    return false;
  }
  // Adds the name unless present; returns whether it was added.
  bool insert(std::string_view name) {
    if (contains(name)) return false;
    names_.push_back(name);
    if (!index_.empty()) {
      index_.insert(name);
    } else if (names_.size() > kLinearLimit) {
      index_.reserve(names_.size() * 2);
      index_.insert(names_.begin(), names_.end());
    }
    return true;
  }
  bool empty() const { return names_.empty(); }
  std::size_t size() const { return names_.size(); }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }

 private:
  static constexpr std::size_t kLinearLimit = 16;
  std::vector<std::string_view> names_;
  std::unordered_set<std::string_view> index_;
};

}  // namespace tessary
