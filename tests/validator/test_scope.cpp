// The scope's savepoints against a model that copies the whole scope at each savepoint: random
// changes, with savepoints opened inside savepoints and then restored or kept, must leave the
// scope and the model with the same bindings after every step, both for scopes of a few names
// and for scopes long enough to be searched through their index.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "validator/semantic.hpp"

namespace tessary {
namespace {

using Bindings = std::map<std::string, std::vector<std::string>>;

Bindings contents(const Scope& scope) {
  Bindings out;
  for (const auto& [name, labels] : scope) {
    out.emplace(std::string(name), std::vector<std::string>(labels.begin(), labels.end()));
  }
  return out;
}

struct Savepoint {
  Scope::Mark mark;
  Bindings saved;
  std::size_t replacements;  // replacements in force when it was opened
};

TEST(ScopeSavepoints, RestoreUndoesExactlyTheChangesSinceTheSavepoint) {
  std::vector<std::string> many = {"a", "b", "c", "d", "a_rather_long_variable_name"};
  for (int i = 0; i < 40; ++i) many.push_back("v" + std::to_string(i));
  const std::vector<std::string> few(many.begin(), many.begin() + 5);
  const std::vector<std::string> labels = {"A", "B", "C"};
  std::mt19937 rng(20240611);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  // The scope keeps views of its names and labels: these lists outlive every scope below.
  auto some_labels = [&] {
    Scope::Labels out;
    for (std::size_t n = pick(4); n > 0; --n) out.emplace_back(labels[pick(labels.size())]);
    return out;
  };
  auto model_labels = [](const Scope::Labels& list) {
    return std::vector<std::string>(list.begin(), list.end());
  };

  for (int run = 0; run < 400; ++run) {
    const std::vector<std::string>& names = run % 2 ? many : few;
    Scope scope;
    Bindings model;
    std::vector<Savepoint> open;
    std::size_t replacements = 0;
    for (int step = 0; step < 160; ++step) {
      const std::string& name = names[pick(names.size())];
      std::size_t op = pick(9);
      // Long scopes need replacements by short ones to be rare.
      if (op == 5 && &names == &many && pick(6) != 0) op = 0;
      switch (op) {
        case 0:
        case 1: {
          const Scope::Labels added = some_labels();
          scope.accumulate(name, added);
          auto it = model.find(name);
          if (it == model.end()) {
            model.emplace(name, model_labels(added));
          } else {
            for (const auto& label : added) {
              bool present = false;
              for (const auto& held : it->second) present = present || held == label;
              if (!present) it->second.emplace_back(label);
            }
          }
          break;
        }
        case 2:
          scope.reset(name);
          model[name] = {};
          break;
        case 3: {
          Scope::Labels list = some_labels();
          model[name] = model_labels(list);
          scope.bind(name, std::move(list));
          break;
        }
        case 4:
          scope.erase(name);
          model.erase(name);
          break;
        case 5: {
          Scope next;
          Bindings next_model;
          for (std::size_t n = pick(3); n > 0; --n) {
            const std::string& bound = names[pick(names.size())];
            Scope::Labels list = some_labels();
            next_model[bound] = model_labels(list);
            next.bind(bound, std::move(list));
          }
          scope.replace_all(std::move(next));
          model = next_model;
          ++replacements;
          break;
        }
        case 6:
          open.push_back(Savepoint{scope.save(), model, replacements});
          break;
        case 7:
          if (!open.empty()) {
            scope.restore(open.back().mark);
            model = open.back().saved;
            replacements = open.back().replacements;
            open.pop_back();
          }
          break;
        case 8:
          if (!open.empty()) {
            scope.keep(open.back().mark);
            open.pop_back();
          }
          break;
      }
      ASSERT_EQ(contents(scope), model) << "run " << run << ", step " << step;
      for (const auto& savepoint : open) {
        ASSERT_EQ(scope.replaced_since(savepoint.mark), replacements > savepoint.replacements)
            << "run " << run << ", step " << step;
      }
    }
    while (!open.empty()) {
      scope.restore(open.back().mark);
      model = open.back().saved;
      open.pop_back();
      ASSERT_EQ(contents(scope), model) << "run " << run << ", closing";
    }
  }
}

}  // namespace
}  // namespace tessary
