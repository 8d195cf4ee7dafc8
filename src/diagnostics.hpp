#pragma once
// The vocabulary of validation findings: codes, severities, diagnostics and suggestions, and the
// "did you mean" helpers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary {

enum class Severity : std::uint8_t { Error = 0, Warning = 1 };

// The 24 finding kinds, in the order of the code table (E603 follows E614).
enum class DiagnosticCode : std::uint8_t {
  ParseError,
  UnknownNodeLabel,
  UnknownNodeLabelInSet,
  UnknownNodeLabelInRemove,
  UnknownRelType,
  UnknownNodeProperty,
  UnknownRelProperty,
  UnknownNodePropertyOnVar,
  UnknownRelPropertyOnVar,
  WrongEndpointLabel,
  UnboundVariable,
  DuplicateProjectionName,
  AggregateStringArg,
  AggregateInForbiddenContext,
  PaginationTypeString,
  PaginationTypeBool,
  PaginationTypeNull,
  PaginationTypeFloat,
  WrongArity,
  CartesianProduct,
  UnknownFunction,
  DistinctOnNonAggregate,
  UnlabeledFullScan,
  UnboundedVarLength,
};

inline constexpr std::size_t kDiagnosticCodeCount = 24;

std::string_view code_str(DiagnosticCode code);   // "E101" ...
std::string_view code_name(DiagnosticCode code);  // "ParseError" ...
Severity code_severity(DiagnosticCode code);
std::string_view severity_str(Severity severity);  // "error" / "warning"
// The code's message template ("Unknown node label: :{}{}" ...); empty for ParseError.
std::string_view code_template(DiagnosticCode code);

// Replaces each "{}" of `tmpl`, in order, by the next argument (a missing argument gives "").
std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args);
// fill_template(code_template(code), args): the complete message of a finding.
//   format_message(DiagnosticCode::UnknownNodeLabel, {"Persn", label_hint_for("Person")})
std::string format_message(DiagnosticCode code, std::initializer_list<std::string_view> args);

// The "did you mean" hint of a finding about an unknown name: its closest match, shown after
// `sigil` (':' for a label or relationship type, '.' for a property key); none without a match.
struct Hint {
  char sigil = ':';
  std::optional<std::string_view> match;
};
// format_message with the hint as the argument after `args`, written in place: the text that
// label_hint_for or property_hint_for gives for the match, or nothing.
std::string format_message(DiagnosticCode code, std::initializer_list<std::string_view> args,
                           const Hint& hint);

// Full Unicode lower-casing: each code point by its lower-case mapping (U+0130 becomes "i" +
// U+0307), a capital sigma at the end of a word by the final sigma; bytes that are not
// well-formed UTF-8 are kept as they are.
std::string unicode_lower(std::string_view text);

struct Suggestion {
  std::string original;
  std::string replacement;
  std::string description;
};

struct Position {
  std::uint32_t line;
  std::uint32_t column;
};

struct ValidationDiagnostic {
  DiagnosticCode code;
  Severity severity;
  std::string message;
  std::optional<Suggestion> suggestion;
  std::optional<Position> position;
};

// The Levenshtein distance between texts and one name, as sequences of bytes. Names of up to 64
// bytes use the bit-parallel form of the distance table (one machine word holds a column of
// vertical differences, a text costs a few word operations per byte); longer names fill the
// table row by row.
class DistanceFrom {
 public:
  explicit DistanceFrom(std::string_view name);
  // The distance to `text` when it is at most `limit`, otherwise some value above `limit`.
  std::size_t to(std::string_view text, std::size_t limit) const;
  // False when `text` is sure to be more than `limit` away: an alignment within the limit keeps
  // all but `limit` of the name's bytes, each matched to an equal byte of the text at most
  // `limit` places away, so at least that many must have one. Names of up to 64 bytes.
  bool may_be_within(std::string_view text, std::size_t limit) const;

 private:
  std::string_view name_;
  std::uint64_t match_[256] = {};  // per byte value, the positions of the name that hold it
};

// The candidate closest to `name` within edit distance 3, compared case-insensitively
// (candidates in ascending byte order make the tie-break alphabetical).
std::optional<std::string_view> closest_match(std::string_view name,
                                              const std::vector<std::string_view>& candidates);

// A candidate list searched again and again, indexed once: each candidate is lower-cased once
// and put in two trees of shared prefixes, one of the texts read forwards and one of them read
// backwards. A search walks the trees with one row of the distance table per byte, and reads
// only the prefixes that can still lead to a candidate close enough, instead of every
// candidate. Where lower-casing changes no candidate's byte length, the short candidates are
// also indexed by their 2- and 3-byte pieces and grouped by length, and a name whose lower case
// keeps its length is looked up there instead, one limit after another (see candidates.cpp).
class Candidates {
 public:
  Candidates() = default;
  explicit Candidates(std::vector<std::string_view> names);
  const std::vector<std::string_view>& names() const { return names_; }

 private:
  friend class CandidateSearch;
  friend class GramSearch;
  friend std::optional<std::string_view> closest_match(std::string_view name,
                                                       const Candidates& candidates);

  // A node and the edge into it, several bytes long where nothing branches. Positions and depths
  // take 32 bits: a list whose lowered texts exceed 4 GiB is searched without the trees.
  struct Node {
    std::uint32_t edge = 0;        // position in the tree's text of the edge's first byte
    std::uint32_t start = 0;       // depth (bytes below the root) at which the edge begins
    std::uint32_t end = 0;         // depth at which it ends: the node's own depth
    std::uint32_t min_length = 0;  // the shortest and longest lowered candidate below
    std::uint32_t max_length = 0;
    std::uint32_t ends_begin = 0;  // the candidates that end here, in list order
    std::uint32_t ends_end = 0;
    std::uint32_t kids_begin = 0;  // its children, least list position below first
    std::uint32_t kids_end = 0;
    std::uint32_t first = 0;  // the least list position below
  };
  // A child as its parent sees it: its node, the first byte of its edge and the least list
  // position below it.
  struct Kid {
    std::uint32_t node;
    std::uint32_t first;
    char byte;
  };
  struct Tree {
    std::string text;         // the lowered candidates, each at its offset, forwards or backwards
    std::vector<Node> nodes;  // the root first
    std::vector<std::uint32_t> ends;  // Node::ends_begin ... index this
    std::vector<Kid> kids;            // Node::kids_begin ... index this
    std::vector<Kid> kids_by_byte;    // the same, each node's in the order of their bytes
  };
  // The pieces of q bytes (grams) of the lowered candidates of at most kGramText bytes, and where
  // they stand: each gram's postings are position << 24 | list position, ascending (by position,
  // then by list position). A gram with many postings also has where those of each position
  // begin: at `by_position` in `starts`, the number P of positions up to the last one, then for
  // each position p < P the first of its postings at p or later.
  struct Grams {
    struct Slot {
      std::uint32_t key = 0;  // the gram's bytes (first in the low bits) + 1; 0 for a free slot
      std::uint32_t begin = 0;
      std::uint32_t end = 0;
      std::uint32_t by_position = 0;  // 0 for none: starts[0] is no gram's
    };
    std::vector<Slot> slots;  // open addressing, a power of two of them
    std::vector<std::uint32_t> postings;
    std::vector<std::uint32_t> starts;
    const Slot* find(std::uint32_t key) const;
  };
  void build(Tree& tree) const;
  void build_grams(Grams& grams, std::size_t q);
  // The first candidate whose lowered text is `lowered`, by the forward tree.
  std::optional<std::uint32_t> find_exact(std::string_view lowered) const;
  // The plain search over the lowered texts, where the trees do not pay.
  std::optional<std::string_view> closest_plain(std::string_view name) const;

  std::vector<std::string_view> names_;
  std::vector<std::size_t> offsets_;  // candidate i is text[offsets_[i], offsets_[i + 1])
  // For a list short enough to be searched plainly, the first 8 bytes of each lowered candidate
  // (the first in the low bits), padded with zero bytes.
  std::vector<std::uint64_t> heads_;
  // The byte values that the lowered texts hold, each once, in no particular order.
  std::string text_bytes_;
  bool indexed_ = false;              // whether the trees below are built (else forward_.text only)
  Tree forward_;
  Tree backward_;
  // Of 2-byte and of 3-byte grams; empty unless every candidate's lower case keeps its length.
  std::array<Grams, 2> grams_;
  // Per candidate, the byte values (mod 64) its lowered text holds: for a list short enough to be
  // searched plainly, and with the grams.
  std::vector<std::uint64_t> letters_;
  // With the grams, per candidate its lowered length, or 255 when longer than any with grams.
  std::vector<std::uint8_t> lengths_;
  // With the grams, the byte values that the candidates of at most kGramText bytes hold, a bit
  // each.
  std::array<std::uint64_t, 4> bytes_ = {};
  // With the grams, the candidates of each lowered length up to a few bytes, grouped by that
  // length and in list order within a length: candidate short_[k] holds short_letters_[k], and
  // those of length l are k = short_starts_[l] ... short_starts_[l + 1] - 1.
  std::vector<std::uint32_t> short_;
  std::vector<std::uint64_t> short_letters_;
  std::vector<std::uint32_t> short_starts_;
};

// closest_match over the names of `candidates`, with the same result, through the index.
std::optional<std::string_view> closest_match(std::string_view name, const Candidates& candidates);
// The suggestion and hint for a `match` that closest_match found for `name`.
Suggestion label_suggestion_for(std::string_view name, std::string_view match);
Suggestion property_suggestion_for(std::string_view name, std::string_view match);
std::string label_hint_for(std::string_view match);
std::string property_hint_for(std::string_view match);

}  // namespace tessary
