#pragma once
// The candidate lists of one schema's "did you mean" suggestions, each indexed once.
#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <unordered_map>

#include "diagnostics.hpp"
#include "schema.hpp"

namespace tessary {

// The schema's labels, its relationship types and the properties of each label and type, in
// ascending byte order, each as an indexed Candidates list made when a search first needs it and
// kept from then on. A validator's schema never changes, so one set serves all its validations,
// on any number of threads at once.
class SchemaCandidates {
 public:
  // `schema` must outlive this object and stay unchanged.
  explicit SchemaCandidates(const Schema& schema);
  SchemaCandidates(const SchemaCandidates&) = delete;
  SchemaCandidates& operator=(const SchemaCandidates&) = delete;
  ~SchemaCandidates();

  const Candidates& labels() const;
  const Candidates& rel_types() const;
  // The properties of a label or type; an empty list when the schema has no such name.
  const Candidates& node_properties(std::string_view label) const;
  const Candidates& rel_properties(std::string_view rel_type) const;

  // `name` as a query must write it (name_as_written), worked out on its first request and kept
  // for later ones; null once the room for such names is taken up, and then the caller works it
  // out itself. For the names of suggestions, which are the schema's: a few per schema are asked
  // for again and again.
  const std::string* written(std::string_view name) const;

 private:
  // One list, made by the first caller. Callers that meet an empty slot at the same time each
  // make the list and the first to finish publishes it; the others drop theirs. No lock is
  // taken, so none can be left held (for instance in a child forked while a list was made).
  class Slot {
   public:
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() { delete list_.load(std::memory_order_acquire); }
    template <class Make>
    const Candidates& get(Make&& make) const;

   private:
    mutable std::atomic<const Candidates*> list_{nullptr};
  };

  const Schema& schema_;
  Slot labels_;
  Slot rel_types_;
  // By name, the views into the schema's own keys.
  std::unordered_map<std::string_view, Slot> node_properties_;
  std::unordered_map<std::string_view, Slot> rel_properties_;
  Candidates empty_;

  // The written names: slots filled once each, by the first caller to publish into it (as for
  // the lists, without a lock), and searched from the slot of the name's hash over a few more.
  struct Written {
    std::string name;
    std::string text;
  };
  static constexpr std::size_t kWrittenSlots = 256;
  static constexpr std::size_t kWrittenProbes = 8;
  mutable std::array<std::atomic<const Written*>, kWrittenSlots> written_{};
};

}  // namespace tessary
