// The indexed candidate list of the "did you mean" search and the search through it.
//
// What the search must find. The plain search takes the candidates in list order with a limit
// of 3 that drops to d - 1 after each hit at distance d; a candidate is a hit when its byte
// length as written and its distance d (between the lowered texts) are both within the limit
// at its turn. Write k(c) for the larger of the length gap and d(c). Every candidate before a
// hit had k above the limit at its turn, and the limit only falls, so the first hit is the
// first candidate of the list with k <= 3, and each later hit the first candidate of the whole
// list with k <= d - 1 for the previous hit's d. So it is enough to know, for each limit m from
// 0 to 3, the first candidate with k <= m and its distance: the search collects these four and
// then replays the hits.
//
// How it finds them. The lowered candidates sit in a tree of shared prefixes. Walking down the
// tree, the search keeps one row of the distance table between the prefix reached and the
// name's prefixes, only the 7 cells around the diagonal (a prefix of the name more than 3 bytes
// longer or shorter is already too far), and leaves a branch once every cell, with the length
// difference still to make up below, exceeds 3, or once nothing below it comes early enough in
// the list to improve what was found. Near the root every short prefix is within 3 of the name,
// so the walk is split in two. Cut the name into a first part A and a rest B, and split the cost
// of an alignment into x, spent by moves that end in A's columns, y, spent by moves that start
// in B's, and the one move between them. With x + y <= 3, x <= c or y <= 2 - c for any c. A
// forward walk allows at most c while it is in A's columns; a walk of the reversed texts with
// the reversed name allows at most 2 - c while it is in B's. Each candidate within 3 is found at
// its exact distance by one of them, and each cuts most branches within a few bytes. c is 1, or
// higher where a forward walk turns out cheap (little of the tree near the name's start).
//
// Where lower-casing keeps the length of every candidate and of the name, most names are looked
// up through an index of grams instead (see GramSearch below), and short names that the grams
// cannot filter are measured against the candidates of nearby lengths, where those are not too
// many.
//
// Lists of a few hundred short candidates are searched plainly, over their lowered texts.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics.hpp"

namespace tessary {

namespace {

constexpr std::size_t kLimit = 3;
// The cells kept of a row: those of the diagonal band within kLimit of the current depth.
constexpr std::size_t kBand = 2 * kLimit + 1;
constexpr std::size_t kCentre = kLimit;
// A distance above the limit; every cell holds at most this.
constexpr std::uint8_t kFar = kLimit + 1;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Names of at most kPlainName bytes (at most 63 once lowered, which the plain search measures a
// candidate in one pass for) are searched plainly in lists shorter than kPlainList: measuring
// each lowered candidate costs less there than walking the trees.
constexpr std::size_t kPlainList = 256;
constexpr std::size_t kPlainName = 42;
// Lists shorter than kPlainList whose lowered texts are all at most kShortText bytes long get no
// trees: the plain search measures a candidate in one pass for names up to 64 bytes, and a longer
// name is more than 3 bytes longer than every candidate.
constexpr std::size_t kShortText = 60;

// The gram indexes: grams of 2 and of 3 bytes, of the lowered candidates of at most kGramText
// bytes (the longest a name of kGramName bytes, the most they serve, can be within kLimit of).
// Positions take 8 bits and list positions 24 in a posting.
constexpr std::size_t kShortestGram = 2;
constexpr std::size_t kLongestGram = 3;
constexpr std::size_t kGramName = 64;
constexpr std::size_t kGramText = kGramName + kLimit;
constexpr std::size_t kGramList = std::size_t{1} << 24;
// A gram with at least this many postings, and at least as many as its positions, has where those
// of each position begin: a window is then found at once, where a search through them would read
// a line of memory per step.
constexpr std::size_t kManyPostings = 8;
// The length kept for a candidate longer than any that has grams.
constexpr std::size_t kLongLength = 255;
static_assert(kGramText < kLongLength);
// Names of at most kScanName bytes that the grams cannot filter are measured against every
// candidate whose lowered length is within kLimit of theirs, grouped by length: cheaper, for so
// short a name, than walking the trees.
constexpr std::size_t kScanName = 12;
constexpr std::size_t kScanText = kScanName + kLimit;

std::size_t length_gap(std::size_t a, std::size_t b) { return a > b ? a - b : b - a; }

// The bytes of `text`, each as bit (byte mod 64).
std::uint64_t letter_set(std::string_view text) {
  std::uint64_t set = 0;
  for (const char c : text) set |= std::uint64_t{1} << (static_cast<unsigned char>(c) & 63);
  return set;
}

// The `q` bytes from `at`, the first in the low bits, + 1.
std::uint32_t gram_key(const char* at, std::size_t q) {
  std::uint32_t key = 0;
  for (std::size_t k = q; k-- > 0;) key = key << 8 | static_cast<unsigned char>(at[k]);
  return key + 1;
}

std::size_t gram_hash(std::uint32_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & mask;
}

std::size_t common_prefix(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

Candidates::Candidates(std::vector<std::string_view> names) : names_(std::move(names)) {
  const std::size_t count = names_.size();
  if (count == 0) return;
  // Every array is given its size at once: a tree for a long list is built once and kept, and the
  // blocks that arrays growing step by step would leave behind only scatter the process's heap.
  offsets_.reserve(count + 1);
  std::size_t bytes = 0;
  for (std::string_view name : names_) bytes += name.size();
  forward_.text.reserve(bytes);  // lower-casing rarely changes a text's length
  bool lengths_kept = true;
  for (std::string_view name : names_) {
    offsets_.push_back(forward_.text.size());
    forward_.text += unicode_lower(name);
    lengths_kept = lengths_kept && forward_.text.size() - offsets_.back() == name.size();
  }
  offsets_.push_back(forward_.text.size());
  {
    std::array<bool, 256> held{};
    for (char c : forward_.text) held[static_cast<unsigned char>(c)] = true;
    for (std::size_t b = 0; b < held.size(); ++b) {
      if (held[b]) text_bytes_ += static_cast<char>(b);
    }
  }
  if (count < kPlainList) {
    // Read 8 bytes at a time where the text holds them, then cut to the candidate's length.
    const char* const text = forward_.text.data();
    const std::size_t total = forward_.text.size();
    heads_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t size = offsets_[i + 1] - offsets_[i];
      std::uint64_t head = 0;
      if (total - offsets_[i] >= 8) {
        std::memcpy(&head, text + offsets_[i], 8);
        if constexpr (std::endian::native == std::endian::big) head = __builtin_bswap64(head);
        if (size < 8) head &= (std::uint64_t{1} << (8 * size)) - 1;
      } else {
        for (std::size_t k = std::min<std::size_t>(size, 8); k-- > 0;) {
          head = head << 8 | static_cast<unsigned char>(text[offsets_[i] + k]);
        }
      }
      heads_[i] = head;
    }
    letters_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      letters_[i] = letter_set(std::string_view(text + offsets_[i], offsets_[i + 1] - offsets_[i]));
    }
  }
  // A short list of short texts is always searched plainly: a long name passes none of its
  // length checks. So is a list too large for the trees' 32-bit positions.
  std::size_t longest = 0;
  for (std::size_t i = 0; i < count; ++i)
    longest = std::max(longest, offsets_[i + 1] - offsets_[i]);
  if ((count < kPlainList && longest <= kShortText) ||
      forward_.text.size() >= std::numeric_limits<std::uint32_t>::max() ||
      count >= std::numeric_limits<std::uint32_t>::max()) {
    return;
  }
  indexed_ = true;
  backward_.text.resize(forward_.text.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::reverse_copy(forward_.text.begin() + static_cast<std::ptrdiff_t>(offsets_[i]),
                      forward_.text.begin() + static_cast<std::ptrdiff_t>(offsets_[i + 1]),
                      backward_.text.begin() + static_cast<std::ptrdiff_t>(offsets_[i]));
  }
  build(forward_);
  build(backward_);
  if (lengths_kept && count < kGramList) {
    for (std::size_t q = kShortestGram; q <= kLongestGram; ++q) {
      build_grams(grams_[q - kShortestGram], q);
    }
    letters_.resize(count);
    lengths_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view text =
          std::string_view(forward_.text).substr(offsets_[i], offsets_[i + 1] - offsets_[i]);
      letters_[i] = letter_set(text);
      lengths_[i] = static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), kLongLength));
      if (text.size() > kGramText) continue;
      for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        bytes_[b >> 6] |= std::uint64_t{1} << (b & 63);
      }
    }
    short_starts_.assign(kScanText + 2, 0);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t size = offsets_[i + 1] - offsets_[i];
      if (size <= kScanText) ++short_starts_[size + 1];
    }
    for (std::size_t l = 1; l < short_starts_.size(); ++l) short_starts_[l] += short_starts_[l - 1];
    short_.resize(short_starts_.back());
    short_letters_.resize(short_starts_.back());
    std::vector<std::uint32_t> next(short_starts_.begin(), short_starts_.end() - 1);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t size = offsets_[i + 1] - offsets_[i];
      if (size > kScanText) continue;
      const std::uint32_t k = next[size]++;
      short_[k] = static_cast<std::uint32_t>(i);
      short_letters_[k] = letters_[i];
    }
  }
}

void Candidates::build_grams(Grams& grams, std::size_t q) {
  // Gram, position and list position in one word each, sorted, then split into the grams'
  // slots and their postings.
  std::size_t total = 0;
  for (std::size_t i = 0; i + 1 < offsets_.size(); ++i) {
    const std::size_t size = offsets_[i + 1] - offsets_[i];
    if (size >= q && size <= kGramText) total += size - q + 1;
  }
  std::vector<std::uint64_t> entries;
  entries.reserve(total);
  for (std::size_t i = 0; i + 1 < offsets_.size(); ++i) {
    const std::size_t size = offsets_[i + 1] - offsets_[i];
    if (size < q || size > kGramText) continue;
    const char* text = forward_.text.data() + offsets_[i];
    for (std::size_t j = 0; j + q <= size; ++j) {
      entries.push_back(std::uint64_t{gram_key(text + j, q)} << 32 | std::uint64_t{j} << 24 | i);
    }
  }
  std::sort(entries.begin(), entries.end());
  std::size_t distinct = 0;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    distinct += e == 0 || (entries[e] >> 32) != (entries[e - 1] >> 32);
  }
  grams.slots.assign(std::bit_ceil(2 * distinct + 2), Grams::Slot{});
  grams.postings.resize(entries.size());
  const std::size_t mask = grams.slots.size() - 1;
  for (std::size_t e = 0; e < entries.size();) {
    const auto key = static_cast<std::uint32_t>(entries[e] >> 32);
    std::size_t i = gram_hash(key, mask);
    while (grams.slots[i].key != 0) i = (i + 1) & mask;
    Grams::Slot& slot = grams.slots[i];
    slot.key = key;
    slot.begin = static_cast<std::uint32_t>(e);
    for (; e < entries.size() && (entries[e] >> 32) == key; ++e) {
      grams.postings[e] = static_cast<std::uint32_t>(entries[e]);
    }
    slot.end = static_cast<std::uint32_t>(e);
  }
  // Where the postings of each position begin, for the grams with many.
  auto positions = [&](const Grams::Slot& slot) -> std::uint32_t {
    if (slot.key == 0) return 0;
    const std::uint32_t last = (grams.postings[slot.end - 1] >> 24) + 1;
    return slot.end - slot.begin >= std::max<std::size_t>(kManyPostings, last) ? last : 0;
  };
  std::size_t starts = 1;
  for (const Grams::Slot& slot : grams.slots) {
    if (const std::uint32_t p = positions(slot)) starts += 1 + p;
  }
  grams.starts.reserve(starts);
  grams.starts.push_back(0);
  for (Grams::Slot& slot : grams.slots) {
    const std::uint32_t p = positions(slot);
    if (p == 0) continue;
    slot.by_position = static_cast<std::uint32_t>(grams.starts.size());
    grams.starts.push_back(p);
    std::uint32_t k = slot.begin;
    for (std::uint32_t position = 0; position < p; ++position) {
      while ((grams.postings[k] >> 24) < position) ++k;
      grams.starts.push_back(k);
    }
  }
}

const Candidates::Grams::Slot* Candidates::Grams::find(std::uint32_t key) const {
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = gram_hash(key, mask);; i = (i + 1) & mask) {
    if (slots[i].key == key) return &slots[i];
    if (slots[i].key == 0) return nullptr;
  }
}

std::optional<std::uint32_t> Candidates::find_exact(std::string_view lowered) const {
  const Tree& tree = forward_;
  const Node* node = &tree.nodes[0];
  while (true) {
    // At the node's edge, which begins at depth node->start.
    if (lowered.size() < node->end ||
        std::memcmp(lowered.data() + node->start, tree.text.data() + node->edge,
                    node->end - node->start) != 0) {
      return std::nullopt;
    }
    if (lowered.size() == node->end) {
      if (node->ends_begin == node->ends_end) return std::nullopt;
      return tree.ends[node->ends_begin];
    }
    const auto byte = static_cast<unsigned char>(lowered[node->end]);
    const Kid* const begin = tree.kids_by_byte.data() + node->kids_begin;
    const Kid* const end = tree.kids_by_byte.data() + node->kids_end;
    const Kid* kid = std::lower_bound(begin, end, byte, [](const Kid& a, unsigned char b) {
      return static_cast<unsigned char>(a.byte) < b;
    });
    if (kid == end || static_cast<unsigned char>(kid->byte) != byte) return std::nullopt;
    node = &tree.nodes[kid->node];
  }
}

void Candidates::build(Tree& tree) const {
  const std::size_t count = names_.size();
  auto text = [&](std::uint32_t i) {
    return std::string_view(tree.text).substr(offsets_[i], offsets_[i + 1] - offsets_[i]);
  };

  // A tree of `count` texts has at most 2 * count nodes (each node but the root either ends a
  // text or has two children or more), one text ending per text and one edge per node but the root.
  tree.nodes.reserve(2 * count + 1);
  tree.kids.reserve(2 * count);
  tree.ends.reserve(count);

  // The candidates in the order of their texts; equal texts keep their list order.
  std::vector<std::uint32_t> order(count);
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return text(a) < text(b); });

  // Top down: a node covers a run of `order` whose texts share their first `start` bytes. Its
  // edge runs on to the longest prefix that the whole run shares (that of its first and last
  // text); the texts no longer than that end at the node, the others are split by their next
  // byte among its children.
  struct Work {
    std::uint32_t node;
    std::size_t lo;
    std::size_t hi;
    std::size_t start;
  };
  tree.nodes.emplace_back();
  std::vector<Work> work{{0, 0, count, 0}};
  std::vector<Work> children;
  while (!work.empty()) {
    const Work w = work.back();
    work.pop_back();
    const std::string_view first = text(order[w.lo]);
    const std::string_view last = text(order[w.hi - 1]);
    const std::size_t end = w.start + common_prefix(first.substr(w.start), last.substr(w.start));
    std::size_t k = w.lo;
    const auto ends_begin = static_cast<std::uint32_t>(tree.ends.size());
    while (k < w.hi && text(order[k]).size() == end) tree.ends.push_back(order[k++]);
    children.clear();
    while (k < w.hi) {
      const char byte = text(order[k])[end];
      const auto group_end =
          std::partition_point(order.begin() + static_cast<std::ptrdiff_t>(k),
                               order.begin() + static_cast<std::ptrdiff_t>(w.hi),
                               [&](std::uint32_t i) { return text(i)[end] == byte; });
      const auto hi = static_cast<std::size_t>(group_end - order.begin());
      const auto id = static_cast<std::uint32_t>(tree.nodes.size() + children.size());
      children.push_back(Work{id, k, hi, end});
      k = hi;
    }
    Node& node = tree.nodes[w.node];
    node.edge = static_cast<std::uint32_t>(offsets_[order[w.lo]] + w.start);
    node.start = static_cast<std::uint32_t>(w.start);
    node.end = static_cast<std::uint32_t>(end);
    node.ends_begin = ends_begin;
    node.ends_end = static_cast<std::uint32_t>(tree.ends.size());
    node.kids_begin = static_cast<std::uint32_t>(tree.kids.size());
    for (const Work& child : children) {
      tree.kids.push_back(Kid{child.node, kNone, text(order[child.lo])[end]});
    }
    node.kids_end = static_cast<std::uint32_t>(tree.kids.size());
    tree.nodes.resize(tree.nodes.size() + children.size());  // `node` is not used from here
    work.insert(work.end(), children.begin(), children.end());
  }

  // Bottom up (children come after their parent): the lengths and least list position below
  // each node; then each node's children ordered by that position, so that a walk meets the
  // candidates early in the list first.
  tree.kids_by_byte.resize(tree.kids.size());
  for (std::size_t n = tree.nodes.size(); n-- > 0;) {
    Node& node = tree.nodes[n];
    node.first = kNone;
    node.min_length = std::numeric_limits<std::uint32_t>::max();
    node.max_length = 0;
    if (node.ends_begin != node.ends_end) {
      node.first = tree.ends[node.ends_begin];
      node.min_length = node.max_length = node.end;
    }
    for (std::uint32_t c = node.kids_begin; c < node.kids_end; ++c) {
      Kid& kid = tree.kids[c];
      const Node& below = tree.nodes[kid.node];
      kid.first = below.first;
      node.first = std::min(node.first, kid.first);
      node.min_length = std::min(node.min_length, below.min_length);
      node.max_length = std::max(node.max_length, below.max_length);
    }
    std::copy(tree.kids.begin() + node.kids_begin, tree.kids.begin() + node.kids_end,
              tree.kids_by_byte.begin() + node.kids_begin);  // made in the order of their bytes
    std::sort(tree.kids.begin() + node.kids_begin, tree.kids.begin() + node.kids_end,
              [](const Kid& a, const Kid& b) { return a.first < b.first; });
  }
}

// Rows of the distance table, 8 one-byte cells in a 64-bit word (cell k in bits 8k ... 8k + 7),
// worked on all cells at once. Every cell holds a small number (at most 9 in the middle of a
// step), so a cell's top bit is free to carry comparisons without disturbing its neighbours.
namespace row {

using Word = std::uint64_t;
constexpr Word kOnes = 0x0101010101010101ull;
constexpr Word kHigh = 0x8080808080808080ull;
constexpr Word kLow7 = 0x7F7F7F7F7F7F7F7Full;
constexpr Word kFarAll = kOnes * kFar;
constexpr Word kBandCells = 0x00FFFFFFFFFFFFFFull;  // cells 0 ... 6; cell 7 stays kFar

// 8 bytes from memory, byte i in cell i.
inline Word load(const char* at) {
  Word w;
  std::memcpy(&w, at, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

// 0xFF in each cell where a >= b, 0 elsewhere (cells below 128).
inline Word at_least(Word a, Word b) { return ((((a | kHigh) - b) & kHigh) >> 7) * 0xFF; }

inline Word min(Word a, Word b) {
  const Word ge = at_least(a, b);
  return (b & ge) | (a & ~ge);
}

// 1 in each cell that is not zero.
inline Word nonzero(Word x) { return ((((x & kLow7) + kLow7) | x) & kHigh) >> 7; }

inline std::uint8_t cell(Word w, std::size_t k) { return static_cast<std::uint8_t>(w >> (8 * k)); }

// The least of cells 0 ... 6 (cell 7 holds kFar, the most any cell holds).
inline std::uint8_t least(Word w) {
  w = min(w, (w >> 32) | (kFarAll << 32));
  w = min(w, (w >> 16) | (kFarAll << 48));
  w = min(w, (w >> 8) | (kFarAll << 56));
  return cell(w, 0);
}

}  // namespace row

// One search for one name.
class CandidateSearch {
 public:
  CandidateSearch(const Candidates& c, std::size_t raw_size, std::string lowered)
      : c_(c), raw_size_(raw_size), lowered_(std::move(lowered)) {
    best_.fill(kNone);
    best_distance_.fill(kFar);
    stack_.reserve(64);
  }

  std::optional<std::string_view> run() {
    const std::size_t n = lowered_.size();
    if (n < 2) {
      walk(c_.forward_, lowered_, -1, kLimit, 0, kUnbounded);  // too short to cut: no cap
    } else {
      // A is the first (n + 1) / 2 bytes, B the rest. Forwards, A's columns 0 ... |A| - 1 are
      // capped at `forward`; backwards, the columns 0 ... |B| of the reversed name (B's, from its
      // end) at 2 - `forward`. The forward walk finds every candidate within `forward` at its
      // distance, so the backward walk only looks for larger distances. A cheap forward walk
      // (little of the tree lies near the name's start) is tried again with a higher cap, within
      // a budget: the backward walk's cap then falls, and at 3 it is not needed at all.
      const std::size_t a = (n + 1) / 2;
      const auto last_a = static_cast<std::ptrdiff_t>(a) - 1;
      std::uint8_t forward = 1;
      std::size_t work = walk(c_.forward_, lowered_, last_a, forward, 0, kUnbounded);
      while (forward < kLimit && work <= kCheapWalk) {
        work = walk(c_.forward_, lowered_, last_a, forward + 1, 0, kDeeperBudget);
        if (work > kDeeperBudget) break;  // given up; what it found stands
        ++forward;
      }
      if (forward < kLimit) {
        const std::string reversed(lowered_.rbegin(), lowered_.rend());
        walk(c_.backward_, reversed, static_cast<std::ptrdiff_t>(n - a),
             static_cast<std::uint8_t>(2 - std::min<std::uint8_t>(forward, 2)),
             static_cast<std::uint8_t>(forward + 1), kUnbounded);
      }
    }
    // Replay the hits of the plain search (see the top of the file).
    std::uint32_t hit = best_[kLimit];
    if (hit == kNone) return std::nullopt;
    std::uint8_t d = best_distance_[kLimit];
    while (d > 0 && best_[d - 1] != kNone) {
      hit = best_[d - 1];
      d = best_distance_[d - 1];
    }
    return c_.names_[hit];
  }

 private:
  using Row = row::Word;
  static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();
  // A forward walk that took at most this much work (nodes and steps) is tried with a higher
  // cap, and the higher cap is given up beyond the budget.
  static constexpr std::size_t kCheapWalk = 48;
  static constexpr std::size_t kDeeperBudget = 384;

  // One walk of one tree. A row holds, for the prefix p of depth t that the walk has reached,
  // the distances between p and the name's prefixes of lengths t - 3 ... t + 3 (cell k for
  // column j = t - 3 + k), each at most kFar; columns outside the name hold kFar. The columns
  // up to `capped` are capped at `cap`: a cell there above it holds kFar, and every alignment
  // through it is dropped.
  class Walk {
   public:
    // `scratch` holds the name's bytes and the columns' limits while the walk lasts.
    Walk(const Candidates::Tree& tree, std::string_view name, std::ptrdiff_t capped,
         std::uint8_t cap, std::uint8_t floor, std::string& scratch)
        : tree(tree), name(name), capped(capped), cap(cap), floor(floor) {
      // Both with kPad bytes before and after, so that a row's 8 cells can be read at once from
      // any depth the walk reaches (at most the name's length + 3).
      const std::size_t size = name.size() + 3 * kPad;
      scratch.assign(2 * size, '\0');
      std::memcpy(scratch.data() + kPad, name.data(), name.size());
      padded_ = scratch.data();
      // For each column, 1 + the most its cell may hold (0 outside the name).
      limits_ = scratch.data() + size;
      for (std::size_t j = 0; j <= name.size(); ++j) {
        limits_[kPad + j] =
            static_cast<char>((static_cast<std::ptrdiff_t>(j) <= capped ? cap : kLimit) + 1);
      }
      for (std::size_t all_capped = 0; all_capped < 2; ++all_capped) {
        for (std::size_t v = 0; v < kFar; ++v) {
          Row want = row::kFarAll;
          for (std::size_t k = 0; k < kBand; ++k) {
            const std::size_t away = k > kCentre ? k - kCentre : kCentre - k;
            std::size_t c = std::min<std::size_t>(v + away, kFar);
            if (all_capped != 0 && c > cap) c = kFar;
            want = (want & ~(Row{0xFF} << (8 * k))) | (Row{c} << (8 * k));
          }
          steady_[all_capped][v] = want;
        }
      }
    }

    const Candidates::Tree& tree;
    const std::string_view name;
    const std::ptrdiff_t capped;
    const std::uint8_t cap;
    const std::uint8_t floor;  // the least distance this walk looks for

    static std::ptrdiff_t column(std::size_t t, std::size_t k) {
      return static_cast<std::ptrdiff_t>(t + k) - static_cast<std::ptrdiff_t>(kLimit);
    }

    // The row of the empty prefix: column j is j, reached along the first row only.
    Row root_row() const {
      Row r = row::kFarAll;
      std::uint8_t left = kFar;
      for (std::size_t k = 0; k < kBand; ++k) {
        const std::ptrdiff_t j = column(0, k);
        if (j < 0 || j > static_cast<std::ptrdiff_t>(name.size())) continue;
        std::uint8_t v = j == 0 ? 0 : static_cast<std::uint8_t>(left + 1);
        if (v >= limits_[kPad + static_cast<std::size_t>(j)]) v = kFar;
        left = v;
        r = (r & ~(Row{0xFF} << (8 * k))) | (Row{v} << (8 * k));
      }
      return r;
    }

    // The name's bytes that a step from depth t compares with (cell k: the byte before column
    // t - 2 + k, which is column k of the new row).
    Row reach(std::size_t t) const { return row::load(padded_ + kPad + t - kLimit); }

    // Whether `byte` is one of them.
    static bool in_reach(Row reach, char byte) {
      const Row x = reach ^ (row::kOnes * static_cast<unsigned char>(byte));
      return (~row::nonzero(x) & row::kOnes & row::kBandCells) != 0;
    }

    // The row at depth t + 1 after a byte, from the row at depth t; `missed` has 1 in each cell
    // whose column's byte differs from it. Cell k of the new row stands for the column of cell
    // k + 1 of the old one.
    Row step(Row r, std::size_t t, Row missed) const {
      using namespace row;
      const Row diag = r + missed;                          // both bytes taken
      const Row up = ((r >> 8) | (kFarAll << 56)) + kOnes;  // the prefix's byte left over
      Row v = row::min(diag, up);
      // The name's bytes left over: each cell at most its left neighbours + 1, + 2 (those
      // further left are more than 3 away).
      v = row::min(v, ((v << 8) | kFar) + kOnes);
      v = row::min(v, ((v << 16) | (kOnes * kFar & 0xFFFF)) + 2 * kOnes);
      // Cells over their column's limit, and those outside the band, are far.
      const Row limit = load(limits_ + kPad + t - 2);
      const Row keep = at_least(limit, v + kOnes) & kBandCells;
      return (v & keep) | (kFarAll & ~keep);
    }
    Row step(Row r, std::size_t t, char byte) const {
      return step(r, t, row::nonzero(reach(t) ^ (row::kOnes * static_cast<unsigned char>(byte))));
    }
    // The row after a byte equal to none of the name's bytes in reach.
    Row step_miss(Row r, std::size_t t) const { return step(r, t, row::kOnes); }

    // Whether `r` at depth t is the steady row around a diagonal at distance v, which a byte
    // equal to the name's byte on that diagonal leaves as it is: the cells grow by one per step
    // away from the centre (those over the cap dropped, where every column is capped), and the
    // band lies inside the name and wholly on one side of the cap, at depth t and t + 1.
    bool steady(Row r, std::size_t t) const {
      const std::ptrdiff_t low = column(t, 0);
      const std::ptrdiff_t high = column(t + 1, kBand - 1);
      if (low < 1 || high > static_cast<std::ptrdiff_t>(name.size())) return false;
      const bool all_capped = high <= capped;
      if (!all_capped && low <= capped) return false;
      const std::uint8_t v = row::cell(r, kCentre);
      return v < kFar && r == steady_[all_capped ? 1 : 0][v];
    }

   private:
    static constexpr std::size_t kPad = 8;
    const char* padded_;
    char* limits_;
    // The steady rows around a diagonal at distance 0 ... 3, as they are where no column is
    // capped and where every column is.
    std::array<std::array<Row, kFar>, 2> steady_;
  };

  // A lower bound of the distance (or kFar) from the name to any candidate below `node`, when
  // the walk stands on its edge with row `r`: each cell's distance plus the difference in length
  // that the rest of the name and the rest of a candidate must still make up.
  static std::uint8_t bound(const Walk& w, Row r, const Candidates::Node& node) {
    // For cell k (column t - 3 + k) the rest of the name is n + 3 - t - k bytes long and the rest
    // of a candidate below min_length - t ... max_length - t, so the gap is at least
    // min_length - n - 3 + k and n + 3 - max_length - k.
    const auto n = static_cast<std::ptrdiff_t>(w.name.size());
    const std::ptrdiff_t shorter = static_cast<std::ptrdiff_t>(node.min_length) - n - 3;
    const std::ptrdiff_t longer = n + 3 - static_cast<std::ptrdiff_t>(node.max_length);
    std::ptrdiff_t best = kFar;
    for (std::size_t k = 0; k < kBand; ++k) {
      const auto i = static_cast<std::ptrdiff_t>(k);
      const std::ptrdiff_t gap = std::max<std::ptrdiff_t>({0, shorter + i, longer - i});
      best = std::min<std::ptrdiff_t>(best, row::cell(r, k) + gap);  // far cells stay far
    }
    return static_cast<std::uint8_t>(best);
  }

  // Whether a candidate at distance `d` or more, at list position `first` or later, could still
  // be one of the best that the walk looks for.
  bool useful(const Walk& w, std::uint8_t d, std::uint32_t first) const {
    return d < kFar && first < best_[std::max(d, w.floor)];
  }

  struct Visit {
    std::uint32_t node;
    std::uint32_t depth;  // how far along its edge the row below has come
    std::uint32_t first;  // the least list position below the node
    Row row;
  };

  // Walks `tree` for `name` (forwards or reversed) with the columns up to `capped` capped at
  // `cap`, looking for distances `floor` and up. Returns the work done (nodes and steps), or
  // more than `budget` once it gives up.
  std::size_t walk(const Candidates::Tree& tree, std::string_view name, std::ptrdiff_t capped,
                   std::uint8_t cap, std::uint8_t floor, std::size_t budget) {
    const Walk w(tree, name, capped, cap, floor, scratch_);
    std::size_t work = 0;
    stack_.clear();
    stack_.push_back(Visit{0, 0, 0, w.root_row()});
    while (!stack_.empty()) {
      if (++work > budget) return work;
      const Visit visit = stack_.back();
      stack_.pop_back();
      const Candidates::Node& node = tree.nodes[visit.node];
      Row r = visit.row;
      std::size_t t = visit.depth;
      if (!useful(w, bound(w, r, node), visit.first)) continue;
      std::size_t p = node.edge + (t - node.start);
      bool alive = true;
      while (t < node.end) {
        // Along a long edge that follows a diagonal of the name byte for byte, the row stays
        // steady: skip the matching run at once.
        if (node.end - t >= 8 && w.steady(r, t)) {
          std::size_t most = std::min<std::size_t>(node.end - t, name.size() - (t + kLimit + 1));
          // The band must stay wholly on one side of the capped columns: a band below them may
          // move on until its last column is the last capped one.
          const auto depth = static_cast<std::ptrdiff_t>(t);
          if (depth <= capped + static_cast<std::ptrdiff_t>(kLimit)) {
            most = std::min<std::size_t>(
                most, static_cast<std::size_t>(std::max<std::ptrdiff_t>(
                          0, capped - depth - static_cast<std::ptrdiff_t>(kLimit))));
          }
          const std::size_t run = matching_run(tree.text.data() + p, name.data() + t, most);
          if (run > 0) {
            t += run;
            p += run;
            continue;
          }
        }
        ++work;
        r = w.step(r, t, tree.text[p]);
        ++t;
        ++p;
        if (!useful(w, row::least(r), visit.first)) {
          alive = false;
          break;
        }
      }
      if (!alive) continue;
      if (node.ends_begin != node.ends_end) reach_end(w, r, t, node);
      if (node.kids_begin != node.kids_end) work += visit_kids(w, node, r, t);
    }
    return work;
  }

  // How many of the first `most` bytes of `a` and `b` are equal before the first that differs.
  static std::size_t matching_run(const char* a, const char* b, std::size_t most) {
    std::size_t run = 0;
    for (; run + 8 <= most; run += 8) {
      const std::uint64_t differ = row::load(a + run) ^ row::load(b + run);
      if (differ != 0) return run + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
    }
    while (run < most && a[run] == b[run]) ++run;
    return run;
  }

  // Takes the first byte of each child of `node` (whose row at depth t is `r`) and queues the
  // children still useful after it, least list position on top. Returns the steps taken.
  std::size_t visit_kids(const Walk& w, const Candidates::Node& node, Row r, std::size_t t) {
    const Row reach = w.reach(t);
    const Row miss = w.step_miss(r, t);
    const std::uint8_t miss_least = row::least(miss);
    const auto depth = static_cast<std::uint32_t>(t + 1);
    const Candidates::Kid* kids = w.tree.kids.data();
    if (useful(w, miss_least, kids[node.kids_begin].first)) {
      // Children of any byte may live on: each is looked at. A byte that matches none of the
      // name's bytes in reach gives every child that begins with it the same row.
      std::size_t steps = 0;
      for (std::uint32_t c = node.kids_end; c-- > node.kids_begin;) {
        const Candidates::Kid& kid = kids[c];
        if (Walk::in_reach(reach, kid.byte)) {
          ++steps;
          const Row next = w.step(r, t, kid.byte);
          if (useful(w, row::least(next), kid.first)) {
            stack_.push_back(Visit{kid.node, depth, kid.first, next});
          }
        } else if (useful(w, miss_least, kid.first)) {
          stack_.push_back(Visit{kid.node, depth, kid.first, miss});
        }
      }
      return steps;
    }
    // Only a child that begins with one of the name's (at most 7) bytes in reach can live on:
    // among a few children those are picked out directly, among many they are looked up by
    // their byte.
    std::array<Visit, kBand> found;
    std::size_t count = 0;
    std::size_t steps = 0;
    auto take = [&](const Candidates::Kid& kid) {
      ++steps;
      const Row next = w.step(r, t, kid.byte);
      if (useful(w, row::least(next), kid.first))
        found[count++] = Visit{kid.node, depth, kid.first, next};
    };
    if (node.kids_end - node.kids_begin <= 16) {
      for (std::uint32_t c = node.kids_begin; c < node.kids_end && count < kBand; ++c) {
        if (Walk::in_reach(reach, kids[c].byte)) take(kids[c]);
      }
    } else {
      const Candidates::Kid* const begin = w.tree.kids_by_byte.data() + node.kids_begin;
      const Candidates::Kid* const end = w.tree.kids_by_byte.data() + node.kids_end;
      for (std::size_t k = 0; k < kBand; ++k) {
        const auto byte = static_cast<unsigned char>(row::cell(reach, k));
        bool seen = false;
        for (std::size_t e = 0; e < k; ++e) seen |= row::cell(reach, e) == byte;
        if (seen) continue;
        const Candidates::Kid* kid =
            std::lower_bound(begin, end, byte, [](const Candidates::Kid& a, unsigned char b) {
              return static_cast<unsigned char>(a.byte) < b;
            });
        if (kid != end && static_cast<unsigned char>(kid->byte) == byte) take(*kid);
      }
    }
    // Least list position on top: queued last.
    for (std::size_t i = 1; i < count; ++i) {
      for (std::size_t k = i; k > 0 && found[k - 1].first < found[k].first; --k) {
        std::swap(found[k - 1], found[k]);
      }
    }
    stack_.insert(stack_.end(), found.begin(), found.begin() + count);
    return steps;
  }

  // The candidates that end at depth t, all at the distance that the row gives for the whole
  // name (or above it, when the walk's cap dropped their closest alignments).
  void reach_end(const Walk& w, Row r, std::size_t t, const Candidates::Node& node) {
    if (length_gap(w.name.size(), t) > kLimit) return;
    const std::uint8_t d = row::cell(r, w.name.size() + kLimit - t);
    if (d >= kFar || d < w.floor) return;
    for (std::uint32_t e = node.ends_begin; e < node.ends_end; ++e) {
      const std::uint32_t i = w.tree.ends[e];
      // In list order: once one cannot improve the limits it may fall under, none can.
      if (i >= best_[d]) break;
      const std::size_t gap = length_gap(c_.names_[i].size(), raw_size_);
      for (std::size_t m = std::max<std::size_t>(d, gap); m <= kLimit; ++m) {
        if (i < best_[m]) {
          best_[m] = i;
          best_distance_[m] = d;
        } else if (i == best_[m]) {
          // Found before by another walk, which may have had to go round its cap.
          best_distance_[m] = std::min(best_distance_[m], d);
        }
      }
    }
  }

  const Candidates& c_;
  std::size_t raw_size_;
  std::string lowered_;
  // For each limit m, the first candidate in list order whose length gap and distance are both
  // at most m, and its distance.
  std::array<std::uint32_t, kLimit + 1> best_;
  std::array<std::uint8_t, kLimit + 1> best_distance_;
  std::vector<Visit> stack_;
  std::string scratch_;
};

// The search through the gram index, for a list whose lower case keeps every candidate's byte
// length and a name whose lower case keeps its own. Then a candidate's length gap is at most its
// distance, so the length checks never skip a candidate within the limit of its turn, and the plain
// search's answer is the first candidate in list order at the least distance. The search filters
// the list for limit 1 (which keeps an equal text too), then for limit 3 (or, where that filter
// does not pay, for 2), and measures what each filter keeps.
//
// A filter for limit m keeps every candidate within m and, with luck, few others. Cut the name
// into m + 1 pieces: an alignment within m leaves one piece untouched (each edit touches at most
// one piece), so that piece stands in the candidate as it is, moved by at most m bytes. Of each
// piece the rarest gram is looked up, and the candidates that hold the whole piece there are kept,
// where their lengths and letters allow an alignment within m that leaves the piece there.
// For limits 2 and 3 the pieces are placed where their grams are rarest in all, and a byte that no
// candidate holds makes a piece of its own. A name too short for such pieces, or whose pieces are
// common, is cut into more pieces of 2 bytes instead, p of them: an alignment within m leaves
// p - m of them untouched, which a kept candidate must then hold. Where neither filter pays the
// trees are walked, as for other lists.
//
// For limit 1 a name whose pieces are common (one that shares most of its bytes with thousands
// of candidates, as numbered names do) is looked up as the texts one edit away from it instead,
// along its own path in the forward tree: that is exact, and cheap where the tree is narrow.
class GramSearch {
 public:
  GramSearch(const Candidates& c, std::string_view lowered)
      : c_(c), lowered_(lowered), letters_(letter_set(lowered)), distance_(lowered) {}

  // The answer, or nothing when the name is too short for the pieces of some limit it needs, or
  // its pieces are too common in the list for the index to pay.
  std::optional<std::optional<std::string_view>> run() {
    // Most misspelt names are one edit away, and the pieces for limit 1 are long and rare: that
    // limit first, which also finds an equal text. Then the filter for limit 3, which keeps every
    // candidate within 3 (and so within 2), or failing that the one for limit 2.
    auto within_one = closest_by_pieces(1, 0, false);
    if (!within_one) {
      if (const auto exact = c_.find_exact(lowered_)) return c_.names_[*exact];
      // Pieces common in the list (names that share most of their bytes with thousands of
      // candidates): the texts one edit away are looked up instead.
      const std::uint32_t found = first_within_one();
      within_one = found == kNone ? std::optional<std::uint32_t>() : found;
    }
    if (*within_one) return c_.names_[**within_one];
    std::size_t least = 2;  // no candidate is closer than this
    if (const auto found = closest_filtered(kLimit, least)) {
      if (*found) return c_.names_[**found];
      return std::optional<std::string_view>();
    }
    if (const auto found = closest_filtered(kLimit - 1, least)) {
      if (*found) return c_.names_[**found];
      least = kLimit;
    }
    if (lowered_.size() <= kScanName) {
      if (const auto found = scan_short(least)) {
        if (*found) return c_.names_[**found];
        return std::optional<std::string_view>();
      }
    }
    return std::nullopt;  // the trees must tell whether one is within 3
  }

 private:
  // The most postings read for one limit by each of the two filters.
  static constexpr std::size_t kPieceBudget = 1024;
  static constexpr std::size_t kCountBudget = 4096;
  // The most candidates a filter may leave to be measured.
  static constexpr std::size_t kMeasureBudget = 256;
  // The most candidates that scan_short reads.
  static constexpr std::size_t kScanBudget = 4096;
  // The most of them that scan_short measures.
  static constexpr std::size_t kScanMeasureBudget = 1024;

  // The postings of `grams` for the gram at `at` of the name when it stands at positions at - m
  // ... at + m of a candidate (none when no candidate holds it).
  std::pair<std::uint32_t, std::uint32_t> window(const Candidates::Grams& grams, std::size_t q,
                                                 std::size_t at, std::size_t m) const {
    const auto* slot = grams.find(gram_key(lowered_.data() + at, q));
    if (slot == nullptr) return {0, 0};
    return window(grams, slot, at, m);
  }
  std::pair<std::uint32_t, std::uint32_t> window(const Candidates::Grams& grams,
                                                 const Candidates::Grams::Slot* slot,
                                                 std::size_t at, std::size_t m) const {
    const auto low_position = static_cast<std::uint32_t>(at > m ? at - m : 0);
    const auto high_position = static_cast<std::uint32_t>(at + m + 1);
    if (slot->by_position != 0) {
      const std::uint32_t* const starts = grams.starts.data() + slot->by_position;
      const std::uint32_t positions = starts[0];
      return {low_position < positions ? starts[1 + low_position] : slot->end,
              high_position < positions ? starts[1 + high_position] : slot->end};
    }
    const std::uint32_t low = low_position << 24;
    const std::uint32_t high = high_position << 24;
    const std::uint32_t* const postings = grams.postings.data();
    const auto* const begin = std::lower_bound(postings + slot->begin, postings + slot->end, low);
    const auto* const end = std::lower_bound(begin, postings + slot->end, high);
    return {static_cast<std::uint32_t>(begin - postings),
            static_cast<std::uint32_t>(end - postings)};
  }

  // The slot of the gram of q bytes at `at` of the name, or null when no candidate holds it; each
  // looked up once per search.
  const Candidates::Grams::Slot* slot(std::size_t at, std::size_t q) {
    const std::size_t g = q - kShortestGram;
    const std::uint64_t bit = std::uint64_t{1} << at;
    if ((seen_[g] & bit) == 0) {
      seen_[g] |= bit;
      slots_[g][at] = c_.grams_[g].find(gram_key(lowered_.data() + at, q));
    }
    return slots_[g][at];
  }
  std::size_t postings(std::size_t at, std::size_t q) {
    const auto* s = slot(at, q);
    return s == nullptr ? 0 : s->end - s->begin;
  }

  // A place in the forward tree: `depth` bytes below the root, on the edge into `node` (at its
  // end when depth is the node's own).
  struct Place {
    std::uint32_t node;
    std::size_t depth;
  };

  // The child of `node` whose edge begins with `byte`, or null.
  const Candidates::Kid* kid(const Candidates::Node& node, char byte) const {
    const Candidates::Kid* const begin = c_.forward_.kids_by_byte.data() + node.kids_begin;
    const Candidates::Kid* const end = c_.forward_.kids_by_byte.data() + node.kids_end;
    const Candidates::Kid* const found =
        std::lower_bound(begin, end, byte, [](const Candidates::Kid& a, char b) {
          return static_cast<unsigned char>(a.byte) < static_cast<unsigned char>(b);
        });
    return found != end && found->byte == byte ? found : nullptr;
  }

  // The first candidate in list order whose lowered text is the text at `at` followed by `rest`,
  // or kNone; also kNone when none below `at` comes before `before`.
  std::uint32_t ending(Place at, std::string_view rest, std::uint32_t before) const {
    const Candidates::Tree& tree = c_.forward_;
    while (true) {
      const Candidates::Node& node = tree.nodes[at.node];
      if (node.first >= before) return kNone;
      const std::size_t along = std::min<std::size_t>(node.end - at.depth, rest.size());
      // Byte by byte: the edges along a name's path are mostly a few bytes long.
      const char* const edge = tree.text.data() + node.edge + (at.depth - node.start);
      for (std::size_t k = 0; k < along; ++k) {
        if (edge[k] != rest[k]) return kNone;
      }
      at.depth += along;
      rest.remove_prefix(along);
      if (at.depth < node.end) return kNone;  // the text ends inside the edge
      if (rest.empty()) {
        return node.ends_begin == node.ends_end ? kNone : tree.ends[node.ends_begin];
      }
      const Candidates::Kid* const next = kid(node, rest.front());
      if (next == nullptr) return kNone;
      at = Place{next->node, at.depth + 1};
      rest.remove_prefix(1);
    }
  }

  // The first candidate in list order within 1 of the name, which no candidate equals, or kNone:
  // each text one edit away (a byte of the name left out, replaced, or one put in) that the
  // forward tree holds, looked up from the places along the name's own path.
  std::uint32_t first_within_one() const {
    const Candidates::Tree& tree = c_.forward_;
    const std::string_view name = lowered_;
    std::uint32_t best = kNone;
    Place at{0, 0};  // the place of the name's first i bytes
    for (std::size_t i = 0;; ++i) {
      const bool inside = i < name.size();
      if (inside) best = std::min(best, ending(at, name.substr(i + 1), best));
      // The bytes that may follow: the edge's next one, or the first of each child's edge.
      const Candidates::Node& node = tree.nodes[at.node];
      auto put = [&](char byte, Place next) {
        if (inside && byte != name[i])
          best = std::min(best, ending(next, name.substr(i + 1), best));
        best = std::min(best, ending(next, name.substr(i), best));
      };
      if (at.depth < node.end) {
        put(tree.text[node.edge + (at.depth - node.start)], Place{at.node, at.depth + 1});
      } else {
        for (std::uint32_t k = node.kids_begin; k < node.kids_end; ++k) {
          const Candidates::Kid& child = tree.kids[k];
          if (child.first >= best) break;  // in order of their first candidates
          put(child.byte, Place{child.node, at.depth + 1});
        }
      }
      if (!inside) break;
      // On along the name's next byte.
      if (at.depth < node.end) {
        if (tree.text[node.edge + (at.depth - node.start)] != name[i]) break;
        ++at.depth;
      } else {
        const Candidates::Kid* const next = kid(node, name[i]);
        if (next == nullptr) break;
        at = Place{next->node, at.depth + 1};
      }
    }
    return best;
  }

  // A piece of the name: bytes at ... at + size - 1, of which the gram of q bytes at `gram` is
  // looked up (q is 1 for a byte that no candidate holds).
  struct Piece {
    std::size_t at;
    std::size_t size;
    std::size_t gram;
    std::size_t q;
  };

  static constexpr std::size_t kNoWay = std::numeric_limits<std::size_t>::max();

  // Whether some candidate holds the name's byte at `at`.
  bool held(std::size_t at) const {
    const auto b = static_cast<unsigned char>(lowered_[at]);
    return (c_.bytes_[b >> 6] >> (b & 63) & 1) != 0;
  }

  // Cuts the name into m + 1 pieces, each holding a gram of `low` ... `high` bytes or a byte that
  // no candidate holds, such that the grams have the fewest postings in all: of the ways to place
  // m + 1 of them that do not overlap, the cheapest, found over the name's prefixes; each piece
  // then runs from its gram to the next one's (the first from the name's start, the last to its
  // end). Bytes and grams of `low` bytes that no candidate holds, taken first where they are
  // enough, spare looking the others up. Returns the postings of the grams in all (kNoWay when the
  // name is too short for m + 1 of them).
  std::size_t cut(std::size_t m, std::size_t low, std::size_t high,
                  std::array<Piece, kLimit + 1>& pieces) {
    const std::size_t n = lowered_.size();
    const std::size_t count = m + 1;
    std::size_t absent = 0;
    for (std::size_t at = 0; at < n && absent < count;) {
      if (!held(at)) {
        pieces[absent++] = Piece{0, 0, at, 1};
        ++at;
      } else if (at + low <= n && slot(at, low) == nullptr) {
        pieces[absent++] = Piece{0, 0, at, low};
        at += low;
      } else {
        ++at;
      }
    }
    std::size_t total = 0;
    if (absent < count) {
      bool any_absent = false;
      for (std::size_t at = 0; at < n; ++at) any_absent = any_absent || !held(at);
      if (low == high) {
        total = low == kShortestGram
                    ? place<kShortestGram, kShortestGram>(count, any_absent, pieces)
                    : place<kLongestGram, kLongestGram>(count, any_absent, pieces);
      } else {
        total = place<kShortestGram, kLongestGram>(count, any_absent, pieces);
      }
      if (total == kNoWay) return kNoWay;
    }
    for (std::size_t k = 0; k < count; ++k) {
      pieces[k].at = k == 0 ? 0 : pieces[k].gram;
      pieces[k].size = (k + 1 < count ? pieces[k + 1].gram : n) - pieces[k].at;
    }
    return total;
  }

  // The cheapest way to place `count` grams of kLow ... kHigh bytes or bytes that no candidate
  // holds (where `any_absent`), none overlapping, for cut: puts the start and size of each in
  // `pieces` and returns the postings of the grams in all, or kNoWay when there is none.
  template <std::size_t kLow, std::size_t kHigh>
  std::size_t place(std::size_t count, bool any_absent, std::array<Piece, kLimit + 1>& pieces) {
    const std::size_t n = lowered_.size();
    // Costs are sums of postings, far below kFarCost; a choice that is not possible costs kFarCost
    // or more, and a sum with one in it stays that high. Each array starts kLongestGram places
    // early, so that entry e - s exists for every s.
    constexpr std::size_t kFarCost = std::size_t{1} << 40;
    constexpr std::size_t kEarly = kLongestGram;
    // ends[s][kEarly + e]: the postings of the gram of s bytes that ends at e (s = 1: a byte that
    // no candidate holds, at no cost), or kFarCost where none may.
    std::array<std::array<std::size_t, kEarly + kGramName + 1>, kLongestGram + 1> ends;
    for (std::size_t e = 1; e <= n; ++e) {
      ends[1][kEarly + e] = held(e - 1) ? kFarCost : 0;
      for (std::size_t size = kLow; size <= kHigh; ++size) {
        ends[size][kEarly + e] = size <= e ? postings(e - size, size) : kFarCost;
      }
    }
    // cost[k][kEarly + e]: the fewest postings of k grams within the first e bytes; took[k][e]:
    // the size of the gram that ends at e in such a choice, or 0 when none does. Ties go to the
    // choice without a gram at e, then to the shortest gram.
    std::array<std::array<std::size_t, kEarly + kGramName + 1>, kLimit + 2> cost;
    std::array<std::array<std::uint8_t, kGramName + 1>, kLimit + 2> took;
    cost[0].fill(0);
    for (std::size_t k = 1; k <= count; ++k) {
      std::size_t* const row = cost[k].data() + kEarly;
      const std::size_t* const before = cost[k - 1].data() + kEarly;
      row[-3] = row[-2] = row[-1] = row[0] = kFarCost;
      std::size_t best = kFarCost;  // row[e - 1], kept at hand
      for (std::size_t e = 1; e <= n; ++e) {
        std::uint8_t size = 0;
        auto consider = [&](std::size_t s) {
          const std::size_t c = before[e - s] + ends[s][kEarly + e];
          size = c < best ? static_cast<std::uint8_t>(s) : size;
          best = std::min(best, c);
        };
        if (any_absent) consider(1);
        for (std::size_t s = kLow; s <= kHigh; ++s) consider(s);
        row[e] = best;
        took[k][e] = size;
      }
    }
    const std::size_t total = cost[count][kEarly + n];
    if (total >= kFarCost) return kNoWay;
    for (std::size_t k = count, e = n; k > 0;) {
      const std::size_t size = took[k][e];
      if (size == 0) {
        --e;
        continue;
      }
      e -= size;
      pieces[--k] = Piece{0, 0, e, size};
    }
    return total;
  }

  // The first candidate in list order at the least distance within `m`, where none is closer
  // than `least`, by the name cut into m + 1 pieces: an alignment within m leaves one piece
  // untouched (each edit touches at most one piece), so a candidate within m holds one of them
  // whole, moved by at most m bytes. The candidates in the windows of the pieces' grams that hold
  // the whole piece there are measured. The pieces are of even length, or, when `rearrange`,
  // placed where their grams are rarest (a byte that no candidate holds makes a piece by itself:
  // an alignment within m must touch it). Nothing when the name is too short for the pieces, or
  // the postings or the candidates kept are too many.
  std::optional<std::optional<std::uint32_t>> closest_by_pieces(std::size_t m, std::size_t least,
                                                                bool rearrange) {
    const std::size_t n = lowered_.size();
    // The longest grams that fit in pieces of even length.
    const std::size_t q = std::min(n / (m + 1), kLongestGram);
    std::array<Piece, kLimit + 1> pieces;
    if (!rearrange) {
      // Pieces of even length, each with its rarest gram.
      if (q < kShortestGram) return std::nullopt;
      even_cut(m, q, pieces);
    } else if (q < kLongestGram || cut(m, q, q, pieces) > kPieceBudget) {
      // The cheapest grams of the longest size anywhere, and where those are common or the name
      // is too short for them in every piece, of both sizes (the longer ones are rarer where they
      // fit), and the bytes that no candidate holds.
      if (cut(m, kShortestGram, kLongestGram, pieces) == kNoWay) return std::nullopt;
    }
    Windows windows;
    if (windows_of(m, pieces, windows) > kPieceBudget) return std::nullopt;
    found_.clear();
    bool kept = false;
    switch (m) {
      case 1:
        kept = keep_holding<1>(pieces, windows);
        break;
      case 2:
        kept = keep_holding<2>(pieces, windows);
        break;
      default:
        kept = keep_holding<3>(pieces, windows);
        break;
    }
    if (!kept) return std::nullopt;
    return closest_found(m, least);
  }

  using Windows = std::array<std::pair<std::uint32_t, std::uint32_t>, kLimit + 1>;

  // Puts in found_ the candidates in the windows of the pieces' grams (for limit M) that hold the
  // whole piece there; false once they are more than kMeasureBudget. The limit is a constant
  // here: this loop reads every posting of the windows.
  template <std::size_t M>
  bool keep_holding(const std::array<Piece, kLimit + 1>& pieces, const Windows& windows) {
    const auto n = static_cast<std::ptrdiff_t>(lowered_.size());
    const char* const text = c_.forward_.text.data();
    for (std::size_t k = 0; k <= M; ++k) {
      const Piece& piece = pieces[k];
      const auto at = static_cast<std::ptrdiff_t>(piece.at);
      const auto size = static_cast<std::ptrdiff_t>(piece.size);
      const std::size_t offset = piece.gram - piece.at;
      // A posting puts the piece at `at` + s in the candidate for a shift s of -M ... M (the
      // window). An alignment that leaves the piece untouched there spends |s| on the bytes before
      // it, and on those after it the gap between their lengths: a candidate of length l
      // qualifies when |s| + |l - n - s| <= M and the piece fits in it: the lengths from
      // allowed[s + M].first on, .second of them (none where the piece would start before the
      // candidate).
      std::array<std::pair<std::uint32_t, std::uint32_t>, 2 * M + 1> allowed;
      for (std::size_t d = 0; d <= 2 * M; ++d) {
        const std::ptrdiff_t s = static_cast<std::ptrdiff_t>(d) - static_cast<std::ptrdiff_t>(M);
        const std::ptrdiff_t spare = static_cast<std::ptrdiff_t>(M) - (s < 0 ? -s : s);
        const std::ptrdiff_t low = std::max(n + s - spare, at + s + size);
        const std::ptrdiff_t high = n + s + spare;
        allowed[d] = at + s < 0 || high < low ? std::pair<std::uint32_t, std::uint32_t>{0, 0}
                                              : std::pair<std::uint32_t, std::uint32_t>{
                                                    static_cast<std::uint32_t>(low),
                                                    static_cast<std::uint32_t>(high - low + 1)};
      }
      const std::uint32_t* const postings = grams_of(piece).postings.data();
      const std::uint32_t first_shift = static_cast<std::uint32_t>(piece.gram - M);
      // The lengths and letters of every posting first, without a branch on either: then the
      // reads of the candidates' lengths and letters, scattered through the list, can all be
      // under way at once. The postings that pass are put in `passed` (a window holds at most
      // kPieceBudget postings: closest_by_pieces gives up on more).
      std::uint32_t* const passed = passed_.data();
      std::size_t count = 0;
      for (std::uint32_t e = windows[k].first; e < windows[k].second; ++e) {
        const std::uint32_t i = postings[e] & (kGramList - 1);
        // The window holds positions gram - M ... gram + M (from 0 where gram < M).
        const auto& fit = allowed[(postings[e] >> 24) - first_shift];
        const bool fits = c_.lengths_[i] - fit.first < fit.second;
        passed[count] = postings[e];
        count += static_cast<std::size_t>(fits & !letters_differ<M>(letters_, c_.letters_[i]));
      }
      const char* const ours = lowered_.data() + piece.at;
      for (std::size_t p = 0; p < count; ++p) {
        const std::uint32_t i = passed[p] & (kGramList - 1);
        // The gram's own bytes are there: the bytes of the piece before and after it.
        const char* const theirs = text + c_.offsets_[i] + ((passed[p] >> 24) - offset);
        if (!same_around(theirs, ours, offset, piece.q, piece.size)) continue;
        if (found_.size() == kMeasureBudget) return false;
        found_.push_back(i);
      }
    }
    return true;
  }

  // Whether the `size` bytes at `theirs` and `ours` are the same but for the `q` at `offset`.
  static bool same_around(const char* theirs, const char* ours, std::size_t offset, std::size_t q,
                          std::size_t size) {
    for (std::size_t j = 0; j < offset; ++j) {
      if (theirs[j] != ours[j]) return false;
    }
    for (std::size_t j = offset + q; j < size; ++j) {
      if (theirs[j] != ours[j]) return false;
    }
    return true;
  }

  // Cuts the name into m + 1 pieces of even length and takes of each the gram of q bytes with the
  // fewest postings (one that no candidate holds at once).
  void even_cut(std::size_t m, std::size_t q, std::array<Piece, kLimit + 1>& pieces) {
    const std::size_t n = lowered_.size();
    for (std::size_t k = 0; k <= m; ++k) {
      const std::size_t at = k * n / (m + 1);
      const std::size_t size = (k + 1) * n / (m + 1) - at;
      pieces[k] = Piece{at, size, at, q};
      std::size_t fewest = std::numeric_limits<std::size_t>::max();
      for (std::size_t o = 0; o + q <= size; ++o) {
        const std::size_t count = postings(at + o, q);
        if (count < fewest) {
          fewest = count;
          pieces[k].gram = at + o;
        }
        if (count == 0) break;
      }
    }
  }

  // The postings of each piece's gram in its window; returns how many in all.
  std::size_t windows_of(std::size_t m, const std::array<Piece, kLimit + 1>& pieces,
                         Windows& windows) {
    std::size_t total = 0;
    for (std::size_t k = 0; k <= m; ++k) {
      const auto* s = pieces[k].q < kShortestGram ? nullptr : slot(pieces[k].gram, pieces[k].q);
      windows[k] = s == nullptr ? std::pair<std::uint32_t, std::uint32_t>{0, 0}
                                : window(grams_of(pieces[k]), s, pieces[k].gram, m);
      total += windows[k].second - windows[k].first;
    }
    return total;
  }

  const Candidates::Grams& grams_of(const Piece& piece) const {
    return c_.grams_[piece.q - kShortestGram];
  }

  // Puts in found_ every candidate within `m` and some others, by the name cut into pieces of 2
  // bytes: with p pieces, an alignment within m leaves p - m of them untouched, so a candidate
  // must hold that many of them, each moved by at most m. False when fewer than m + 2 pieces
  // (then one untouched piece is all there is to count, as pieces_within does) or the postings
  // are too many.
  bool counted_within(std::size_t m) {
    const std::size_t n = lowered_.size();
    const std::size_t q = kShortestGram;
    const std::size_t count = n / q;
    if (count < m + 2) return false;
    const std::size_t need = count - m;
    const Candidates::Grams& grams = c_.grams_[q - kShortestGram];
    std::array<std::pair<std::uint32_t, std::uint32_t>, kGramName / kShortestGram> pieces;
    std::size_t total = 0;
    for (std::size_t k = 0; k < count; ++k) {
      pieces[k] = window(grams, q, k * q, m);
      total += pieces[k].second - pieces[k].first;
    }
    if (total > kCountBudget) return false;
    // Per candidate, the last piece counted (+ 1) in the high byte and the count in the low one.
    tallies_.resize(c_.names_.size());
    bool overflow = false;
    for (std::size_t k = 0; k < count && !overflow; ++k) {
      const auto mark = static_cast<std::uint16_t>((k + 1) << 8);
      for (std::uint32_t e = pieces[k].first; e < pieces[k].second; ++e) {
        const std::uint32_t i = grams.postings[e] & (kGramList - 1);
        std::uint16_t& tally = tallies_[i];
        if ((tally & 0xFF00) == mark) continue;  // the piece stands twice in the window
        tally = static_cast<std::uint16_t>(mark | ((tally & 0xFF) + 1));
        if ((tally & 0xFF) == need && length_gap(c_.lengths_[i], n) <= m && !too_different(i, m)) {
          overflow = found_.size() == kMeasureBudget;
          if (overflow) break;
          found_.push_back(i);
        }
      }
    }
    for (std::size_t k = 0; k < count; ++k) {
      for (std::uint32_t e = pieces[k].first; e < pieces[k].second; ++e) {
        tallies_[grams.postings[e] & (kGramList - 1)] = 0;
      }
    }
    return !overflow;
  }

  // Whether candidate i is sure to be more than `m` away (see letters_differ).
  bool too_different(std::uint32_t i, std::size_t m) const {
    return letters_differ(letters_, c_.letters_[i], m);
  }

  // Whether texts holding the byte values (mod 64) `ours` and `theirs` are sure to be more than
  // `m` apart: each byte value that one holds and the other lacks takes an edit of its own (a
  // replacement serves one value of each side). (With the lowest m bits of each difference
  // cleared, one more is left; m is at most kLimit.) The limits of the two sides may differ:
  // where the text of `theirs` is g bytes longer, g of the edits put bytes in, which serve no
  // value of our side, so our side's limit is g less (kOurs = m - g, kTheirs = m), and the other
  // way round where it is shorter.
  template <std::size_t kOurs, std::size_t kTheirs = kOurs>
  static bool letters_differ(std::uint64_t ours, std::uint64_t theirs) {
    std::uint64_t only_ours = ours & ~theirs;
    std::uint64_t only_theirs = theirs & ~ours;
    for (std::size_t k = 0; k < kOurs; ++k) only_ours &= only_ours - 1;
    for (std::size_t k = 0; k < kTheirs; ++k) only_theirs &= only_theirs - 1;
    return (only_ours | only_theirs) != 0;
  }
  static bool letters_differ(std::uint64_t ours, std::uint64_t theirs, std::size_t m) {
    switch (m) {
      case 0:
        return letters_differ<0>(ours, theirs);
      case 1:
        return letters_differ<1>(ours, theirs);
      case 2:
        return letters_differ<2>(ours, theirs);
      default:
        return letters_differ<kLimit>(ours, theirs);
    }
  }

  // The first candidate in list order at the least distance within kLimit, where none is closer
  // than `least`, by every candidate of a length within kLimit of the name's: those of the name's
  // length first, then one byte longer or shorter, and so on, since a length gap of g costs g
  // edits at least.
  // Nothing when the lengths nearby hold too many candidates, or too many of them share enough
  // of the name's bytes to be measured.
  std::optional<std::optional<std::uint32_t>> scan_short(std::size_t least) const {
    const std::size_t n = lowered_.size();
    const std::size_t low = n > kLimit ? n - kLimit : 0;
    const std::size_t high = std::min(n + kLimit, kScanText);
    if (c_.short_starts_[high + 1] - c_.short_starts_[low] > kScanBudget) return std::nullopt;
    std::size_t measured = 0;
    const std::string_view text = c_.forward_.text;
    const std::uint32_t* const short_ = c_.short_.data();
    std::uint32_t best = kNone;
    std::size_t best_distance = kLimit;  // with best past the list's end: the limit of any
    for (std::size_t g = 0; g <= kLimit && g <= best_distance; ++g) {
      for (std::size_t side = 0; side < (g == 0 ? 1 : 2); ++side) {
        if (side == 0 ? n + g > kScanText : g > n) continue;
        const std::size_t l = side == 0 ? n + g : n - g;
        // Those of this length in list order: a candidate before the best must be as close as
        // it, one after it closer. `split` is the first after it.
        const std::uint32_t end = c_.short_starts_[l + 1];
        std::uint32_t k = c_.short_starts_[l];
        std::uint32_t split = best == kNone
                                  ? end
                                  : static_cast<std::uint32_t>(
                                        std::upper_bound(short_ + k, short_ + end, best) - short_);
        while (k < end) {
          const bool before_best = k < split;
          const std::size_t limit = before_best ? best_distance : best_distance - 1;
          // Only past the best can the limit fall below g or `least`: then so it does for the
          // rest of this length.
          if (limit < std::max(g, least)) break;
          const std::uint32_t stop = before_best ? split : end;
          // The g bytes more of a longer candidate, or fewer of a shorter one, take g edits that
          // no byte value of the other text's alone is made up by.
          k = next_alike(k, stop, side == 0 ? limit - g : limit, side == 0 ? limit : limit - g);
          if (k == stop) continue;
          const std::uint32_t i = short_[k++];
          if (++measured > kScanMeasureBudget) return std::nullopt;
          const std::string_view candidate = text.substr(c_.offsets_[i], l);
          if (!distance_.may_be_within(candidate, limit)) continue;
          const std::size_t d = distance_.to(candidate, limit);
          if (d <= limit) {
            best = i;
            best_distance = d;
            split = k;  // the rest of this length comes after it
          }
        }
      }
    }
    if (best == kNone) return std::optional<std::uint32_t>();
    return best;
  }

  // The first k from `k` on, before `stop`, whose candidate short_[k] is not ruled out by its
  // letters: by more than kOurs byte values that only the name holds, or more than kTheirs that
  // only the candidate holds (see letters_differ).
  template <std::size_t kOurs, std::size_t kTheirs>
  std::uint32_t next_alike(std::uint32_t k, std::uint32_t stop) const {
    const std::uint64_t* const letters = c_.short_letters_.data();
    while (k < stop && letters_differ<kOurs, kTheirs>(letters_, letters[k])) ++k;
    return k;
  }
  std::uint32_t next_alike(std::uint32_t k, std::uint32_t stop, std::size_t ours,
                           std::size_t theirs) const {
    using Next = std::uint32_t (GramSearch::*)(std::uint32_t, std::uint32_t) const;
    static constexpr auto kNext = []<std::size_t... I>(std::index_sequence<I...>) {
      return std::array<Next, sizeof...(I)>{
          &GramSearch::next_alike<I / (kLimit + 1), I % (kLimit + 1)>...};
    }
    (std::make_index_sequence<(kLimit + 1) * (kLimit + 1)>{});
    return (this->*kNext[std::min(ours, kLimit) * (kLimit + 1) + std::min(theirs, kLimit)])(k,
                                                                                            stop);
  }

  // The first candidate in list order at the least distance within `m`, where none is closer
  // than `least`, by the pieces or else by the counted pieces; nothing when neither filter pays.
  std::optional<std::optional<std::uint32_t>> closest_filtered(std::size_t m, std::size_t least) {
    if (const auto found = closest_by_pieces(m, least, true)) return found;
    found_.clear();
    if (!counted_within(m)) return std::nullopt;
    return closest_found(m, least);
  }

  // The first candidate of found_ in list order at the least distance within `m`, where none is
  // closer than `least`.
  std::optional<std::uint32_t> closest_found(std::size_t m, std::size_t least) {
    std::sort(found_.begin(), found_.end());
    const std::string_view text = c_.forward_.text;
    std::optional<std::uint32_t> best;
    std::size_t best_distance = m + 1;
    std::uint32_t last = kNone;
    for (const std::uint32_t i : found_) {
      if (i == last) continue;
      last = i;
      const std::string_view theirs =
          text.substr(c_.offsets_[i], c_.offsets_[i + 1] - c_.offsets_[i]);
      if (too_different(i, best_distance - 1) ||
          !distance_.may_be_within(theirs, best_distance - 1)) {
        continue;
      }
      const std::size_t d = distance_.to(theirs, best_distance - 1);
      if (d < best_distance) {
        best = i;
        best_distance = d;
        if (d <= least) break;
      }
    }
    return best;
  }

  const Candidates& c_;
  std::string_view lowered_;
  std::uint64_t letters_;
  DistanceFrom distance_;
  // Per gram size and position in the name, the gram's slot, once looked up (its bit in seen_).
  std::array<std::array<const Candidates::Grams::Slot*, kGramName>, 2> slots_;
  std::array<std::uint64_t, 2> seen_ = {};
  std::vector<std::uint32_t> found_;
  // The postings of one window that keep_holding has not ruled out by lengths and letters.
  std::array<std::uint32_t, kPieceBudget> passed_;
  std::vector<std::uint16_t> tallies_;
};

std::optional<std::string_view> closest_match(std::string_view name, const Candidates& candidates) {
  if (candidates.names_.empty()) return std::nullopt;
  if (!candidates.indexed_ ||
      (candidates.names_.size() < kPlainList && name.size() <= kPlainName)) {
    return candidates.closest_plain(name);
  }
  std::string lowered = unicode_lower(name);
  if (!candidates.grams_[0].slots.empty() && lowered.size() == name.size() &&
      lowered.size() <= kGramName) {
    if (auto found = GramSearch(candidates, lowered).run()) return *found;
  }
  return CandidateSearch(candidates, name.size(), std::move(lowered)).run();
}

}  // namespace tessary
