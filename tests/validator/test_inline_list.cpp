// The inline list against std::vector: random operations on lists of strings (long enough to live
// on the heap, so that a lost, doubled or stale element shows, also under the sanitizers), with
// lists that stay within their inline room and lists that outgrow it, copied and moved both ways.
#include "validator/inline_list.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tessary {
namespace {

using List = InlineList<std::string, 3>;

std::vector<std::string> contents(const List& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

TEST(InlineList, BehavesAsAVectorWithinAndPastItsInlineRoom) {
  std::mt19937 rng(20240612);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto text = [&] {
    return "a text too long to be kept inside a string #" + std::to_string(rng());
  };

  for (int run = 0; run < 300; ++run) {
    // Two lists and their models, so that moves and copies go between lists of any sizes.
    List lists[2];
    std::vector<std::string> models[2];
    for (int step = 0; step < 60; ++step) {
      const std::size_t a = pick(2);
      const std::size_t b = 1 - a;
      List& list = lists[a];
      std::vector<std::string>& model = models[a];
      switch (pick(8)) {
        case 0:
        case 1: {
          const std::string t = text();
          list.emplace_back(t);
          model.push_back(t);
          break;
        }
        case 2:
          // An element of the list itself, also when the list must grow to take it.
          if (!model.empty()) {
            const std::size_t i = pick(model.size());
            list.emplace_back(list[i]);
            model.push_back(model[i]);
          }
          break;
        case 3:
          if (!model.empty()) {
            list.pop_back();
            model.pop_back();
          }
          break;
        case 4: {
          const std::size_t n = model.empty() ? 0 : pick(model.size() + 1);
          list.shrink_to(n);
          model.resize(n);
          break;
        }
        case 5:
          lists[b] = std::move(list);
          models[b] = std::move(model);
          model.clear();
          EXPECT_TRUE(list.empty());
          break;
        case 6:
          lists[b] = list;
          models[b] = model;
          break;
        case 7: {
          List moved(std::move(list));
          EXPECT_TRUE(list.empty());
          list = List(moved);
          EXPECT_EQ(contents(moved), model);
          break;
        }
      }
      for (std::size_t k = 0; k < 2; ++k) {
        ASSERT_EQ(contents(lists[k]), models[k]) << "run " << run << ", step " << step;
        ASSERT_EQ(lists[k].size(), models[k].size());
        ASSERT_EQ(lists[k].empty(), models[k].empty());
      }
    }
  }
}

TEST(InlineList, ComparesByElements) {
  const std::vector<std::string> words = {"one", "two", "three", "four", "five"};
  const List all(words.begin(), words.end());
  List same(words.begin(), words.end());
  EXPECT_TRUE(all == same);
  same.shrink_to(4);
  EXPECT_FALSE(all == same);
  same.emplace_back("FIVE");
  EXPECT_FALSE(all == same);
  same.back() = "five";
  EXPECT_TRUE(all == same);
}

}  // namespace
}  // namespace tessary
