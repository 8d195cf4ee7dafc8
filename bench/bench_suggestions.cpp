// "Did you mean" searches at scale, through the whole pipeline (Tessary::validate): many unknown
// names against long candidate lists, 64 KiB queries against a schema of 10,000 labels and
// 10,000 relationship types with 100 properties each, and unknown names as long as a
// megabyte. A family of cases shares one schema and validator, made (with the family's queries)
// when its first case runs, as a service makes its validator once per schema; the first
// validation of each query (which indexes the lists it searches) is not timed. Run one family per
// process: the schemas of the big families weigh a few hundred megabytes, and a heap that holds
// them all slows every allocation down. Counters: the query's size and its findings.
//
//   build/bench/bench_suggestions --benchmark_filter='Properties10k/words'
//   build/bench/bench_suggestions --benchmark_filter='BigSchema/'
//   build/bench/bench_suggestions --benchmark_filter='LongLabel/1000000/'
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "validator/validator.hpp"
#include "worst_cases.hpp"

namespace tessary::bench {
namespace {

// Word-like names from a fixed seed, so that every build measures the same texts.
class Words {
 public:
  explicit Words(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

  // Two to four syllables, lower case: "velorina".
  std::string word() {
    static constexpr std::string_view kOnsets[] = {"b", "c", "d", "f", "g", "h", "k", "l", "m",
                                                   "n", "p", "r", "s", "t", "v", "w", "z", "br",
                                                   "st", "tr", "ch", "sh", "pl", "gr"};
    static constexpr std::string_view kVowels[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou"};
    std::string out;
    for (std::size_t n = 2 + below(3); n > 0; --n) {
      out += kOnsets[below(std::size(kOnsets))];
      out += kVowels[below(std::size(kVowels))];
      if (below(3) == 0) out += "nrlst"[below(5)];
    }
    return out;
  }
  // A property name: one to three words in camel case, "birthVelorina".
  std::string property() {
    std::string out = word();
    for (std::size_t n = below(3); n > 0; --n) out += capitalised(word());
    return out;
  }
  // A label: one or two capitalised words, "VeloRina".
  std::string label() {
    std::string out = capitalised(word());
    if (below(2) == 0) out += capitalised(word());
    return out;
  }
  // A relationship type: two words in upper case joined by "_", "VELO_RINA".
  std::string rel_type() { return upper(word()) + "_" + upper(word()); }

  // One edit (replace, insert or delete a letter) somewhere in `name`.
  std::string misspell(std::string name) {
    const std::size_t at = below(name.size());
    const char letter = "xqzjkvwy"[below(8)];
    switch (below(3)) {
      case 0: name[at] = name[at] == letter ? 'w' : letter; break;
      case 1: name.insert(name.begin() + static_cast<std::ptrdiff_t>(at), letter); break;
      default: if (name.size() > 1) name.erase(at, 1); break;
    }
    return name;
  }

  // `n` distinct names from `make`, none of them in `taken`.
  template <class Make>
  std::vector<std::string> distinct(std::size_t n, Make make, OrderedSet& taken) {
    std::vector<std::string> out;
    while (out.size() < n) {
      std::string name = make();
      if (taken.insert(name)) out.push_back(std::move(name));
    }
    return out;
  }

 private:
  static std::string capitalised(std::string s) {
    s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
  }
  static std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(c - 'a' + 'A');
    return s;
  }
  std::mt19937_64 rng_;
};

void set_counters(benchmark::State& state, const std::string& query,
                  const ValidationResult& result) {
  state.counters["bytes"] = static_cast<double>(query.size());
  state.counters["findings"] = static_cast<double>(result.diagnostics.size());
}

// A schema's validator and the queries of its cases, made when the first case runs.
struct Family {
  std::shared_ptr<const Tessary> tessary;
  std::vector<std::string> queries;  // in the order of the case names
};

// Registers `prefix` + each case name; a case validates its query once outside the timing (the
// lists it searches get indexed), then times it.
void register_family(const std::string& prefix, const std::vector<std::string>& cases,
                     std::function<Family()> make) {
  auto family = std::make_shared<std::optional<Family>>();
  auto get = [family, make = std::move(make)]() -> const Family& {
    if (!*family) *family = make();
    return **family;
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    benchmark::RegisterBenchmark((prefix + cases[i]).c_str(), [get, i](benchmark::State& state) {
      const Family& f = get();
      const std::string& query = f.queries[i];
      const ValidationResult first = f.tessary->validate(query);
      if (first.syntax_errors().size() > 0) {
        state.SkipWithError(("the query does not parse: " + first.syntax_errors()[0]).c_str());
        return;
      }
      for (auto _ : state) benchmark::DoNotOptimize(f.tessary->validate(query));
      set_counters(state, query, first);
    })->Unit(benchmark::kMillisecond);
  }
}

// ---------------------------------------------------------------------------------------------
// 10,000 unknown property names against a label with 10,000 properties.

Family many_properties(const std::vector<std::string>& properties,
                       const std::vector<std::string>& unknown) {
  Schema schema;
  PropertySet set;
  for (const auto& p : properties) set.insert(p);
  schema.insert_node("Item", std::move(set));
  std::string query = "MATCH (n:Item) RETURN ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) query += ", ";
    query += "n." + unknown[i];
  }
  return Family{std::make_shared<const Tessary>(std::move(schema)), {std::move(query)}};
}

void register_properties_10k() {
  constexpr std::size_t kCount = 10'000;
  // Word-like names: half the unknown ones are misspellings of properties (each has its
  // suggestion), half new words (most have none).
  register_family("Properties10k/", {"words"}, [] {
    Words words(1);
    OrderedSet taken;
    auto properties = words.distinct(kCount, [&] { return words.property(); }, taken);
    auto unknown = words.distinct(kCount / 2, [&] {
      return words.misspell(properties[words.below(properties.size())]);
    }, taken);
    auto fresh = words.distinct(kCount / 2, [&] { return words.property(); }, taken);
    unknown.insert(unknown.end(), fresh.begin(), fresh.end());
    return many_properties(properties, unknown);
  });
  // Numbered names, prop0 ... prop9999, which all lie within a few edits of each other:
  // misspelt ones, and unknown numbers with another prefix.
  register_family("Properties10k/", {"numbered"}, [] {
    Words words(2);
    OrderedSet taken;
    std::vector<std::string> properties;
    for (std::size_t i = 0; i < kCount; ++i) {
      properties.push_back("prop" + std::to_string(i));
      taken.insert(properties.back());
    }
    auto unknown = words.distinct(kCount / 2, [&] {
      return words.misspell(properties[words.below(properties.size())]);
    }, taken);
    auto other = words.distinct(kCount / 2, [&] {
      return "attr" + std::to_string(words.below(100'000));
    }, taken);
    unknown.insert(unknown.end(), other.begin(), other.end());
    return many_properties(properties, unknown);
  });
}

// ---------------------------------------------------------------------------------------------
// 64 KiB queries against 10,000 labels and 10,000 relationship types, 100 properties each.

struct BigSchema {
  std::vector<std::string> labels;
  std::vector<std::string> types;
  std::shared_ptr<const Tessary> tessary;
};

// The schema is built in place, without lists of names beside it: a heap left full of freed
// small names would slow every later allocation of the process down.
BigSchema make_big_schema(Words& words, bool numbered) {
  constexpr std::size_t kNames = 10'000;
  constexpr std::size_t kProperties = 100;
  BigSchema big;
  OrderedSet taken_labels;
  OrderedSet taken_types;
  // The names the worst cases use (Person, ACTED_IN, name, ...) are not in this schema: there
  // they are unknown names, searched against the whole lists.
  if (numbered) {
    for (std::size_t i = 0; i < kNames; ++i) {
      big.labels.push_back("Label" + std::to_string(i));
      big.types.push_back("TYPE_" + std::to_string(i));
    }
  } else {
    big.labels = words.distinct(kNames, [&] { return words.label(); }, taken_labels);
    big.types = words.distinct(kNames, [&] { return words.rel_type(); }, taken_types);
  }
  auto properties = [&] {
    PropertySet set;
    while (set.size() < kProperties) {
      set.insert(numbered ? "prop" + std::to_string(set.size()) : words.property());
    }
    return set;
  };
  Schema schema;
  for (const auto& label : big.labels) schema.insert_node(label, properties());
  for (std::size_t i = 0; i < big.types.size(); ++i) {
    schema.insert_relationship(big.types[i], big.labels[i], big.labels[(i + 1) % kNames],
                               properties());
  }
  big.tessary = std::make_shared<const Tessary>(std::move(schema));
  return big;
}

void register_big_schema(const std::string& prefix, bool numbered, bool with_worst_cases) {
  std::vector<std::string> cases = {"misspelt_labels",       "unknown_labels",
                                    "misspelt_rel_types",    "misspelt_map_keys",
                                    "misspelt_rel_map_keys", "misspelt_property_accesses"};
  if (with_worst_cases) {
    for (const auto& worst : worst_cases()) cases.push_back(std::string("worst/") + worst.name);
  }
  register_family(prefix, cases, [numbered, with_worst_cases] {
    Words words(numbered ? 4 : 3);
    BigSchema big = make_big_schema(words, numbered);
    const Schema& schema = big.tessary->schema();
    auto pick = [&](const std::vector<std::string>& names) -> const std::string& {
      return names[words.below(names.size())];
    };
    auto pick_view = [&](const std::vector<std::string_view>& names) {
      return std::string(names[words.below(names.size())]);
    };
    Family family{big.tessary, {}};
    std::vector<std::string>& q = family.queries;
    q.push_back(fill("MATCH ", ",", " RETURN 1", [&](std::size_t) {
      return "(:" + words.misspell(pick(big.labels)) + ")";
    }));
    q.push_back(fill("MATCH ", ",", " RETURN 1", [&](std::size_t) {
      return "(:" + words.label() + "Zq)";
    }));
    q.push_back(fill("MATCH (a)", "", " RETURN a", [&](std::size_t) {
      return "-[:" + words.misspell(pick(big.types)) + "]-()";
    }));
    q.push_back(fill("MATCH ", ",", " RETURN 1", [&](std::size_t) {
      const std::string& label = pick(big.labels);
      return "(:" + label + " {" + words.misspell(pick_view(schema.node_properties(label))) +
             ": 1})";
    }));
    q.push_back(fill("MATCH (a)", "", " RETURN a", [&](std::size_t) {
      const std::string& type = pick(big.types);
      return "-[:" + type + " {" + words.misspell(pick_view(schema.rel_properties(type))) +
             ": 1}]-()";
    }));
    const std::string& label = pick(big.labels);
    const std::vector<std::string_view> label_properties = schema.node_properties(label);
    q.push_back(fill("MATCH (n:" + label + ") RETURN ", ",", "", [&](std::size_t) {
      return "n." + words.misspell(pick_view(label_properties));
    }));
    if (with_worst_cases) {
      for (const auto& worst : worst_cases()) q.push_back(worst.make());
    }
    return family;
  });
}

// ---------------------------------------------------------------------------------------------
// One unknown label against labels of `length` characters.

void register_long_labels(std::size_t length) {
  register_family("LongLabel/" + std::to_string(length) + "/", {"near", "far", "upper"}, [length] {
    Words words(5);
    std::vector<std::string> long_labels;
    Schema schema;
    for (std::size_t i = 0; i < 8; ++i) {
      std::string label;
      label.reserve(length);
      while (label.size() < length) label += "abcdefghijklmnopqrstuvwxyz"[words.below(26)];
      schema.insert_node(label, {"name"});
      long_labels.push_back(std::move(label));
    }
    for (std::size_t i = 0; i < 100; ++i) schema.insert_node(words.label(), {"name"});
    Family family{std::make_shared<const Tessary>(std::move(schema)), {}};
    // One letter replaced in the middle: distance 1, a suggestion.
    std::string near = long_labels[3];
    near[length / 2] = near[length / 2] == 'z' ? 'y' : 'z';
    family.queries.push_back("MATCH (n:" + near + ") RETURN n");
    // Four letters replaced far apart: distance 4, no suggestion.
    std::string far = long_labels[5];
    for (std::size_t k = 1; k <= 4; ++k) {
      far[k * length / 5] = far[k * length / 5] == 'z' ? 'y' : 'z';
    }
    family.queries.push_back("MATCH (n:" + far + ") RETURN n");
    // The same letters in upper case: distance 0 after lower-casing.
    std::string upper = long_labels[6];
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    family.queries.push_back("MATCH (n:" + upper + ") RETURN n");
    return family;
  });
}

}  // namespace
}  // namespace tessary::bench

int main(int argc, char** argv) {
  using namespace tessary::bench;
  register_properties_10k();
  register_big_schema("BigSchema/", false, true);
  register_big_schema("BigSchemaNumbered/", true, true);
  register_long_labels(30'000);
  register_long_labels(1'000'000);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
