// The insertion-ordered map and set behind the schema, against std::map as a model: many keys of
// similar shapes (so that their hashes meet in the index), keys written again, keys never
// written, copies that go their own way, and a cleared map filled again.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ordered.hpp"

namespace tessary {
namespace {

std::string key(int i) { return (i % 3 == 0 ? "k" : "key_") + std::to_string(i); }

// Every byte of a name counts in its hash, wherever it stands: names that differ in one byte
// (or only in length, by a trailing zero byte) hash apart, for every length up to a few words.
TEST(NameHash, EveryByteOfANameCounts) {
  for (std::size_t length = 0; length <= 24; ++length) {
    std::string base;
    for (std::size_t i = 0; i < length; ++i) base += static_cast<char>('a' + i);
    std::map<std::uint64_t, std::string> seen;
    auto add = [&](const std::string& name) {
      const auto [it, added] = seen.emplace(name_hash(name), name);
      EXPECT_TRUE(added) << "length " << length << ": a hash shared by '" << it->second << "' and '"
                         << name << "'";
    };
    add(base);
    add(base + '\0');
    for (std::size_t i = 0; i < length; ++i) {
      for (char other : {'A', '\0', '\xFF'}) {
        std::string changed = base;
        changed[i] = other;
        add(changed);
      }
    }
  }
}

// Names compared in place, a word or a few bytes at a time: equal names from different buffers
// are equal, and a difference in any one byte, or in length, is seen, for every length up to a
// few words (each length ends with another mix of whole words, overlapping loads and bytes).
TEST(SameName, SeesEveryByteAndTheLength) {
  for (std::size_t length = 0; length <= 24; ++length) {
    std::string base;
    for (std::size_t i = 0; i < length; ++i) base += static_cast<char>('a' + i);
    const std::string copy = base;
    EXPECT_TRUE(same_name(base, copy)) << "length " << length;
    EXPECT_FALSE(same_name(base, base + '\0')) << "length " << length;
    for (std::size_t i = 0; i < length; ++i) {
      for (char other : {'A', '\0', '\xFF'}) {
        std::string changed = base;
        changed[i] = other;
        EXPECT_FALSE(same_name(base, changed)) << "length " << length << ", byte " << i;
        EXPECT_FALSE(same_name(changed, base)) << "length " << length << ", byte " << i;
      }
    }
  }
}

TEST(OrderedMap, AgreesWithAModelAndKeepsFirstInsertionOrder) {
  OrderedMap<int> map;
  std::map<std::string, int> model;
  std::vector<std::string> order;
  for (int i = 0; i < 5000; ++i) {
    const std::string k = key(i % 3500);  // the last 1500 write keys again
    map.insert_or_assign(k, i);
    if (model.count(k) == 0) order.push_back(k);
    model[k] = i;
  }
  map[""] = -1;  // the empty name is a name like any other
  model[""] = -1;
  order.push_back("");

  ASSERT_EQ(map.size(), model.size());
  std::vector<std::string> seen;
  for (const auto& [k, v] : map) {
    seen.push_back(k);
    EXPECT_EQ(v, model.at(k)) << k;
  }
  EXPECT_EQ(seen, order);
  for (const auto& [k, v] : model) {
    ASSERT_NE(map.find(k), nullptr) << k;
    EXPECT_EQ(*map.find(k), v);
  }
  for (int i = 3500; i < 4500; ++i) EXPECT_FALSE(map.contains(key(i))) << key(i);
  EXPECT_FALSE(map.contains("k"));
  EXPECT_FALSE(map.contains("key_1 "));
}

TEST(OrderedMap, CopiesAreIndependentAndAClearedMapFillsAgain) {
  OrderedMap<int> map;
  for (int i = 0; i < 100; ++i) map.insert_or_assign(key(i), i);
  OrderedMap<int> copy = map;
  copy.insert_or_assign("only_in_copy", 1);
  copy.insert_or_assign(key(5), 50);
  EXPECT_FALSE(map.contains("only_in_copy"));
  EXPECT_EQ(*map.find(key(5)), 5);
  EXPECT_EQ(*copy.find(key(5)), 50);
  EXPECT_EQ(*copy.find(key(99)), 99);

  OrderedMap<int> moved = std::move(copy);
  EXPECT_EQ(*moved.find("only_in_copy"), 1);

  // Assigned over maps that held other keys, a copy and a moved map answer as their sources did,
  // and a write to the copy leaves the source as it was.
  OrderedMap<int> assigned;
  assigned.insert_or_assign("old", 0);
  assigned = moved;
  *assigned.find(key(7)) = 70;
  EXPECT_EQ(*moved.find(key(7)), 7);
  EXPECT_FALSE(assigned.contains("old"));
  OrderedMap<int> taken;
  taken.insert_or_assign("old", 0);
  taken = std::move(assigned);
  EXPECT_EQ(*taken.find(key(7)), 70);
  EXPECT_EQ(*taken.find("only_in_copy"), 1);
  EXPECT_FALSE(taken.contains("old"));

  map.clear();
  EXPECT_TRUE(map.empty());
  EXPECT_FALSE(map.contains(key(1)));
  map["again"] = 7;
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(*map.find("again"), 7);
}

TEST(OrderedSet, KeepsEachItemOnceInFirstOrder) {
  OrderedSet set{"b", "a", "b"};
  EXPECT_TRUE(set.insert("c"));
  EXPECT_FALSE(set.insert("a"));
  std::vector<std::string> items;
  for (const std::string& item : set) items.push_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_TRUE(set.contains("c"));
  EXPECT_FALSE(set.contains("d"));
}

}  // namespace
}  // namespace tessary
