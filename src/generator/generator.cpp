// Query templates and the draws that fill them. The order of the draws is part of the output:
// a seeded generator must make exactly the same draws, in the same order, on every run, including
// draws whose results a template then does not use.
#include "generator/generator.hpp"

#include <algorithm>

#include "parser/names.hpp"

namespace tessary {

namespace {

constexpr std::array<std::string_view, 5> kScalarStrings = {"\"Alice\"", "\"Bob\"", "\"Carol\"",
                                                            "\"Neo4j\"", "\"hello\""};
constexpr std::array<std::string_view, 4> kStringNames = {"\"Alice\"", "\"Bob\"", "\"Carol\"",
                                                          "\"Neo4j\""};
constexpr std::array<std::string_view, 4> kScalarParams = {"$name", "$id", "$value", "$limit"};
constexpr std::array<std::string_view, 3> kStringParams = {"$name", "$id", "$value"};

constexpr std::string_view kFallbackLabel = "Node";

enum class QueryType {
  MatchReturn,
  MatchWhereReturn,
  Create,
  Merge,
  Aggregation,
  MatchRelationship,
  CreateRelationship,
  MatchSet,
  MatchDelete,
  WithChain,
  DistinctReturn,
  OrderBy,
  Unwind,
};

std::vector<std::string> owned(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

// Concatenates the pieces of a template in order.
std::string cat(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (auto p : pieces) size += p.size();
  std::string out;
  out.reserve(size);
  for (auto p : pieces) out.append(p);
  return out;
}

}  // namespace

CypherGenerator::CypherGenerator(Schema schema, std::optional<std::uint64_t> seed)
    : node_labels_(owned(schema.node_labels())),
      rel_types_(owned(schema.rel_types())),
      schema_(std::move(schema)),
      rng_(seed ? Rng::seed_state(*seed) : Rng::from_os_rng()) {
  for (const std::string& label : node_labels_) {
    node_props_.insert_or_assign(label, owned(schema_.node_properties(label)));
  }
  // Names are checked once here; the draws never depend on how a name is written.
  auto note = [this](std::string_view name) {
    if (quoted_.contains(name)) return;
    std::string as_written = name_as_written(name);
    if (as_written != name) quoted_.insert_or_assign(name, std::move(as_written));
  };
  for (const auto& [label, props] : node_props_) {
    note(label);
    for (const std::string& prop : props) note(prop);
  }
  for (const std::string& type : rel_types_) {
    note(type);
    const auto ends = schema_.rel_src_tgt(type);
    note(ends->first);
    note(ends->second);
  }
}

std::string_view CypherGenerator::written(std::string_view name) const {
  if (quoted_.empty()) return name;
  const std::string* as_written = quoted_.find(name);
  return as_written ? std::string_view(*as_written) : name;
}

std::vector<std::string> CypherGenerator::supported_types() {
  return {kQueryTypes.begin(), kQueryTypes.end()};
}

const std::string& CypherGenerator::pick(const std::vector<std::string>& list) {
  return list[rng_.random_range(static_cast<std::uint64_t>(list.size()))];
}

std::string_view CypherGenerator::choose_label() {
  if (node_labels_.empty()) return kFallbackLabel;
  return pick(node_labels_);
}

const std::vector<std::string>* CypherGenerator::props_of(std::string_view label) const {
  const std::vector<std::string>* props = node_props_.find(label);
  return props && !props->empty() ? props : nullptr;
}

std::optional<std::string_view> CypherGenerator::pick_node_prop(std::string_view label) {
  const std::vector<std::string>* props = props_of(label);
  if (!props) return std::nullopt;
  return written(pick(*props));
}

std::string CypherGenerator::maybe_limit() {
  if (rng_.random_range(3) != 0) return {};
  return " LIMIT " + std::to_string(rng_.random_range(std::int64_t{1}, std::int64_t{50}));
}

std::string CypherGenerator::gen_property_map(std::string_view label) {
  const std::vector<std::string>* props = props_of(label);
  if (!props) return {};
  const auto k = static_cast<std::uint32_t>(props->size());
  const auto amount =
      static_cast<std::uint32_t>(rng_.random_range(std::min<std::uint64_t>(k, 3))) + 1;
  std::string out = " {";
  bool first = true;
  for (const std::uint32_t index : rng_.sample(k, amount)) {
    if (!first) out += ", ";
    first = false;
    out += written((*props)[index]);
    out += ": ";
    out += gen_scalar_value();
  }
  out += '}';
  return out;
}

std::string CypherGenerator::gen_scalar_value() {
  switch (rng_.top_bits(2)) {
    case 0:
      return std::string(kScalarStrings[rng_.random_range(kScalarStrings.size())]);
    case 1:
      return std::to_string(rng_.random_range(std::int64_t{1}, std::int64_t{100}));
    case 2:
      return rng_.top_bits(1) == 0 ? "true" : "false";
    default:
      return std::string(kScalarParams[rng_.top_bits(2)]);
  }
}

std::string CypherGenerator::gen_string_value() {
  if (rng_.random_range(3) != 0) return std::string(kStringNames[rng_.top_bits(2)]);
  return std::string(kStringParams[rng_.random_range(kStringParams.size())]);
}

std::variant<std::string, CypherError> CypherGenerator::generate(std::string_view query_type) {
  const auto found = std::find(kQueryTypes.begin(), kQueryTypes.end(), query_type);
  if (found == kQueryTypes.end()) {
    return CypherError::generator(cat({"Unknown query type: ", query_type}));
  }
  const auto type = static_cast<QueryType>(found - kQueryTypes.begin());

  switch (type) {
    case QueryType::MatchReturn: {
      const std::string_view l = choose_label();
      const std::string limit = maybe_limit();
      return cat({"MATCH (n:", written(l), ") RETURN n", limit});
    }
    case QueryType::MatchWhereReturn: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      if (p) {
        const std::string v = gen_string_value();
        const std::string limit = maybe_limit();
        return cat({"MATCH (n:", written(l), ") WHERE n.", *p, " = ", v, " RETURN n.", *p, limit});
      }
      const std::string limit = maybe_limit();
      return cat({"MATCH (n:", written(l), ") RETURN n", limit});
    }
    case QueryType::Create:
    case QueryType::Merge: {
      const std::string_view l = choose_label();
      const std::string map = gen_property_map(l);
      return cat(
          {type == QueryType::Create ? "CREATE (n:" : "MERGE (n:", written(l), map, ") RETURN n"});
    }
    case QueryType::Aggregation: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      if (p) return cat({"MATCH (n:", written(l), ") RETURN count(n.", *p, ") AS result"});
      return cat({"MATCH (n:", written(l), ") RETURN count(n) AS result"});
    }
    case QueryType::MatchRelationship: {
      if (rel_types_.empty()) return cat({"MATCH (n:", written(choose_label()), ") RETURN n"});
      const std::string& t = pick(rel_types_);
      const auto ends = schema_.rel_src_tgt(t);
      const std::string_view optional = rng_.chance_quarter() ? "OPTIONAL " : "";
      return cat({optional, "MATCH (a:", written(ends->first), ")-[r:", written(t),
                  "]->(b:", written(ends->second), ") RETURN a, r, b"});
    }
    case QueryType::CreateRelationship: {
      if (rel_types_.empty()) return cat({"CREATE (n:", written(choose_label()), ") RETURN n"});
      const std::string& t = pick(rel_types_);
      const auto ends = schema_.rel_src_tgt(t);
      return cat({"MATCH (a:", written(ends->first), "),(b:", written(ends->second),
                  ") CREATE (a)-[r:", written(t), "]->(b) RETURN r"});
    }
    case QueryType::MatchSet: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      if (p) {
        const std::string v = gen_string_value();
        return cat({"MATCH (n:", written(l), ") SET n.", *p, " = ", v, " RETURN n"});
      }
      return cat({"MATCH (n:", written(l), ") RETURN n"});
    }
    case QueryType::MatchDelete:
      return cat({"MATCH (n:", written(choose_label()), ") DETACH DELETE n"});
    case QueryType::WithChain: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      if (p) return cat({"MATCH (n:", written(l), ") WITH n.", *p, " AS val RETURN count(*)"});
      return cat({"MATCH (n:", written(l), ") WITH n AS val RETURN count(*)"});
    }
    case QueryType::DistinctReturn: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      const std::string limit = maybe_limit();
      if (p) return cat({"MATCH (n:", written(l), ") RETURN DISTINCT n.", *p, limit});
      return cat({"MATCH (n:", written(l), ") RETURN DISTINCT n", limit});
    }
    case QueryType::OrderBy: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      const std::string_view desc = rng_.top_bits(1) == 1 ? " DESC" : "";
      const std::string limit = maybe_limit();
      if (p) return cat({"MATCH (n:", written(l), ") RETURN n ORDER BY n.", *p, desc, limit});
      return cat({"MATCH (n:", written(l), ") RETURN n ORDER BY n", limit});
    }
    case QueryType::Unwind: {
      const std::string_view l = choose_label();
      const auto p = pick_node_prop(l);
      const std::uint64_t count = 2 + rng_.random_range(3);
      std::string values;
      for (std::uint64_t i = 0; i < count; ++i) {
        if (i) values += ", ";
        values += gen_scalar_value();
      }
      if (p) return cat({"MATCH (n:", written(l), ") UNWIND n.", *p, " AS item RETURN item"});
      return cat({"UNWIND [", values, "] AS item RETURN item"});
    }
  }
  return CypherError::generator(cat({"Unknown query type: ", query_type}));
}

}  // namespace tessary
