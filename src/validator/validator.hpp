#pragma once
// The validation pipeline: parse, semantic checks, result and automatic fix.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.hpp"
#include "schema.hpp"

namespace tessary {

// The message lists of a result, each a selection of its diagnostics: all errors (syntax and
// semantic), the syntax errors (a parse error), the semantic errors and the warnings.
enum class MessageKind : std::uint8_t { Errors, SyntaxErrors, SemanticErrors, Warnings };

// Whether the message of `d` belongs to the list of `kind`.
inline bool shows(MessageKind kind, const ValidationDiagnostic& d) {
  switch (kind) {
    case MessageKind::Errors:
      return d.severity == Severity::Error;
    case MessageKind::SyntaxErrors:
      return d.code == DiagnosticCode::ParseError;
    case MessageKind::SemanticErrors:
      return d.severity == Severity::Error && d.code != DiagnosticCode::ParseError;
    case MessageKind::Warnings:
      return d.severity == Severity::Warning;
  }
  return false;
}

// The messages of one kind of a list of diagnostics, in their order, read in place.
class MessageList {
 public:
  class iterator {
   public:
    using value_type = std::string;
    using reference = const std::string&;
    using pointer = const std::string*;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;

    iterator() = default;
    reference operator*() const { return at_->message; }
    pointer operator->() const { return &at_->message; }
    iterator& operator++() {
      ++at_;
      skip();
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }

   private:
    friend class MessageList;
    iterator(const ValidationDiagnostic* at, const ValidationDiagnostic* end, MessageKind kind)
        : at_(at), end_(end), kind_(kind) {
      skip();
    }
    void skip() {
      while (at_ != end_ && !shows(kind_, *at_)) ++at_;
    }
    const ValidationDiagnostic* at_ = nullptr;
    const ValidationDiagnostic* end_ = nullptr;
    MessageKind kind_ = MessageKind::Errors;
  };
  using const_iterator = iterator;
  using value_type = std::string;

  MessageList(const std::vector<ValidationDiagnostic>& diagnostics, MessageKind kind)
      : begin_(diagnostics.data()), end_(diagnostics.data() + diagnostics.size()), kind_(kind) {}

  iterator begin() const { return iterator(begin_, end_, kind_); }
  iterator end() const { return iterator(end_, end_, kind_); }
  std::size_t size() const {
    std::size_t n = 0;
    for (const ValidationDiagnostic* d = begin_; d != end_; ++d) n += shows(kind_, *d);
    return n;
  }
  bool empty() const { return begin() == end(); }
  std::vector<std::string> to_vector() const { return {begin(), end()}; }

 private:
  const ValidationDiagnostic* begin_;
  const ValidationDiagnostic* end_;
  MessageKind kind_;
};

struct ValidationResult {
  bool is_valid = true;
  std::optional<std::string> fixed_query;
  // Every finding, errors and warnings in the order found. The message lists show their
  // messages: each message is kept once, here.
  std::vector<ValidationDiagnostic> diagnostics;

  MessageList messages(MessageKind kind) const { return MessageList(diagnostics, kind); }
  // Copies of the message lists.
  std::vector<std::string> errors() const { return messages(MessageKind::Errors).to_vector(); }
  std::vector<std::string> syntax_errors() const {
    return messages(MessageKind::SyntaxErrors).to_vector();
  }
  std::vector<std::string> semantic_errors() const {
    return messages(MessageKind::SemanticErrors).to_vector();
  }
  std::vector<std::string> warnings() const { return messages(MessageKind::Warnings).to_vector(); }
};

class SchemaCandidates;

class Tessary {
 public:
  explicit Tessary(Schema schema);
  const Schema& schema() const;
  // Never fails; safe to call from many threads at once.
  ValidationResult validate(std::string_view query) const;

 private:
  // The schema and the candidate lists of its suggestions, indexed as searches first need them
  // and shared by every validation (copies of the validator share them too: nothing in them
  // changes but the lists made on first use).
  struct State;
  std::shared_ptr<const State> state_;
};

}  // namespace tessary
