// The schema's candidate lists, each indexed when a search first needs it.
#include "validator/schema_candidates.hpp"

#include <memory>

#include "ordered.hpp"
#include "parser/names.hpp"

namespace tessary {

template <class Make>
const Candidates& SchemaCandidates::Slot::get(Make&& make) const {
  if (const Candidates* list = list_.load(std::memory_order_acquire)) return *list;
  auto made = std::make_unique<const Candidates>(make());
  const Candidates* expected = nullptr;
  if (list_.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
    return *made.release();
  }
  return *expected;  // another caller published its list first
}

SchemaCandidates::SchemaCandidates(const Schema& schema) : schema_(schema) {
  node_properties_.reserve(schema.nodes.size());
  for (const auto& [label, properties] : schema.nodes) node_properties_.try_emplace(label);
  rel_properties_.reserve(schema.relationships.size());
  for (const auto& [type, def] : schema.relationships) rel_properties_.try_emplace(type);
}

SchemaCandidates::~SchemaCandidates() {
  for (auto& slot : written_) delete slot.load(std::memory_order_acquire);
}

const std::string* SchemaCandidates::written(std::string_view name) const {
  std::unique_ptr<const Written> made;
  const std::size_t home = name_hash(name);
  for (std::size_t probe = 0; probe < kWrittenProbes; ++probe) {
    std::atomic<const Written*>& slot = written_[(home + probe) % kWrittenSlots];
    const Written* held = slot.load(std::memory_order_acquire);
    if (held == nullptr) {
      if (!made)
        made = std::make_unique<const Written>(Written{std::string(name), name_as_written(name)});
      if (slot.compare_exchange_strong(held, made.get(), std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
        return &made.release()->text;
      }
      // Another caller filled the slot first: it may hold this very name.
    }
    if (held->name == name) return &held->text;
  }
  return nullptr;
}

const Candidates& SchemaCandidates::labels() const {
  return labels_.get([&] { return Candidates(schema_.node_labels()); });
}

const Candidates& SchemaCandidates::rel_types() const {
  return rel_types_.get([&] { return Candidates(schema_.rel_types()); });
}

const Candidates& SchemaCandidates::node_properties(std::string_view label) const {
  const auto it = node_properties_.find(label);
  if (it == node_properties_.end()) return empty_;
  return it->second.get([&] { return Candidates(schema_.node_properties(label)); });
}

const Candidates& SchemaCandidates::rel_properties(std::string_view rel_type) const {
  const auto it = rel_properties_.find(rel_type);
  if (it == rel_properties_.end()) return empty_;
  return it->second.get([&] { return Candidates(schema_.rel_properties(rel_type)); });
}

}  // namespace tessary
