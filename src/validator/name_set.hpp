#pragma once
// A set of names viewed from elsewhere (the query tree or the scope), searched linearly while it
// is small and through a hash index once it grows, so that long lists stay linear overall. The
// first few names are kept inside the set: a small one costs no allocation.
#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "ordered.hpp"
#include "validator/inline_list.hpp"

namespace tessary {

class NameSet {
 public:
  bool contains(std::string_view name) const {
    if (index_) return index_->count(name) != 0;
    for (auto n : names_) {
      if (same_name(n, name)) return true;
    }
    return false;
  }
  // Adds the name unless present; returns whether it was added.
  bool insert(std::string_view name) {
    if (contains(name)) return false;
    names_.emplace_back(name);
    if (index_) {
      index_->insert(name);
    } else if (names_.size() > kLinearLimit) {
      index_ = std::make_unique<std::unordered_set<std::string_view>>();
      index_->reserve(names_.size() * 2);
      index_->insert(names_.begin(), names_.end());
    }
    return true;
  }
  bool empty() const { return names_.empty(); }
  std::size_t size() const { return names_.size(); }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }

 private:
  static constexpr std::size_t kLinearLimit = 16;
  InlineList<std::string_view, 8> names_;
  std::unique_ptr<std::unordered_set<std::string_view>> index_;  // made once the set is long
};

}  // namespace tessary
