// The indexed "did you mean" search (Candidates) against the plain one: for every name and list
// both must pick the same candidate (the same element of the list, not only an equal text).
// The reference here is the plain algorithm written out step by step: length checks on the
// bytes as written and as lowered, a two-row distance abandoned once a row exceeds the limit,
// the limit falling to d - 1 after each hit, a hit at distance 0 taken at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.hpp"

namespace tessary {
namespace {

using Views = std::vector<std::string_view>;

std::size_t gap(std::size_t a, std::size_t b) { return a > b ? a - b : b - a; }

// The distance of two byte strings with two rows, or max + 1 once a whole row exceeds max.
std::size_t two_row_distance(const std::string& name, const std::string& c, std::size_t max) {
  if (name.empty()) return c.size();
  if (c.empty()) return name.size();
  std::vector<std::size_t> prev(c.size() + 1);
  std::vector<std::size_t> cur(c.size() + 1);
  for (std::size_t j = 0; j <= c.size(); ++j) prev[j] = j;
  for (std::size_t i = 0; i < name.size(); ++i) {
    cur[0] = i + 1;
    std::size_t row_min = cur[0];
    for (std::size_t j = 0; j < c.size(); ++j) {
      cur[j + 1] = name[i] == c[j] ? prev[j] : 1 + std::min({prev[j], prev[j + 1], cur[j]});
      row_min = std::min(row_min, cur[j + 1]);
    }
    if (row_min > max) return max + 1;
    std::swap(prev, cur);
  }
  return prev[c.size()];
}

// The position in the list of the plain algorithm's answer.
std::optional<std::size_t> reference(std::string_view name, const Views& candidates) {
  std::size_t max = 3;
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::string_view c = candidates[i];
    if (gap(c.size(), name.size()) > max) continue;
    const std::string lowered_name = unicode_lower(name);
    const std::string lowered_c = unicode_lower(c);
    if (gap(lowered_c.size(), lowered_name.size()) > max) continue;
    const std::size_t d = two_row_distance(lowered_name, lowered_c, max);
    if (d > max) continue;
    if (d == 0) return i;
    best = i;
    max = d - 1;
  }
  return best;
}

// The position of `match` in the list, by its storage.
std::optional<std::size_t> position(std::optional<std::string_view> match, const Views& list) {
  if (!match) return std::nullopt;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].data() == match->data() && list[i].size() == match->size()) return i;
  }
  ADD_FAILURE() << "the match is not an element of the list";
  return std::nullopt;
}

std::string show(std::string_view text) {
  std::string out;
  for (unsigned char c : text.substr(0, 120)) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (text.size() > 120) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

// The indexed search and the library's plain search both give the reference's answer for
// every name.
void expect_same(const Candidates& index, const std::vector<std::string>& names) {
  const Views& list = index.names();
  for (const std::string& name : names) {
    const auto want = reference(name, list);
    const auto plain = position(closest_match(name, list), list);
    const auto indexed = position(closest_match(name, index), list);
    ASSERT_EQ(plain, want) << "plain, name " << show(name);
    ASSERT_EQ(indexed, want) << "indexed, name " << show(name) << " among " << list.size()
                             << (want ? ", want " + show(list[*want]) : std::string(", want none"))
                             << (indexed ? ", got " + show(list[*indexed]) : std::string(", got none"));
  }
}

// Short lists are searched plainly for short names, long ones through the trees. So every list
// is searched as it is and, followed by 300 fillers too long to be a match for any of the names,
// once more: the answers stay those of the list.
void expect_same(const std::vector<std::string>& list, const std::vector<std::string>& names) {
  const Views views(list.begin(), list.end());
  ASSERT_NO_FATAL_FAILURE(expect_same(Candidates(views), names));
  std::size_t longest = 0;
  for (const auto& name : names) longest = std::max(longest, name.size());
  if (list.size() >= 300) return;
  std::vector<std::string> fillers;
  for (std::size_t i = 0; i < 300; ++i) {
    fillers.push_back(std::string(longest + 4, '~') + std::to_string(i));
  }
  Views padded = views;
  padded.insert(padded.end(), fillers.begin(), fillers.end());
  const Candidates index(padded);
  for (const std::string& name : names) {
    const auto want = reference(name, views);
    ASSERT_EQ(position(closest_match(name, index), padded), want)
        << "indexed with fillers, name " << show(name) << " among " << list.size();
  }
}

// Pieces of names: ASCII of both cases, and letters whose lower case has another byte length
// (KELVIN SIGN and OHM SIGN lower-case to 1 and 2 bytes from 3, İ to 3 bytes from 2, ẞ to 2
// from 3), the sigma whose lower case depends on its neighbours, two-byte letters that differ
// in one or both bytes, and bytes that are not UTF-8.
const std::vector<std::string> kPieces = {
    "a", "b", "c", "A", "B", "C", "_", "1", "k", "K",
    "\xe2\x84\xaa",  // KELVIN SIGN
    "\xe2\x84\xa6",  // OHM SIGN
    "\xcf\x89",      // ω
    "\xc4\xb0",      // İ
    "i\xcc\x87",     // i + COMBINING DOT ABOVE, the lower case of İ
    "\xe1\xba\x9e",  // ẞ
    "\xc3\x9f",      // ß
    "\xce\xa3",      // Σ
    "\xcf\x83",      // σ
    "\xcf\x82",      // ς
    "\xc3\xa9",      // é
    "\xc3\x89",      // É
    "\xc3\xa8",      // è
    "\xc4\x81",      // ā
    "\xd0\x94",      // Д
    "\xd0\xb4",      // д
    "\xc7\x85",      // ǅ
    "'",
    "\xff",
    "\x80",
};

class Maker {
 public:
  explicit Maker(std::uint32_t seed, const std::vector<std::string>& pieces = kPieces)
      : rng_(seed), pieces_(pieces) {}
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }

  std::string piece(std::size_t alphabet) { return pieces_[below(alphabet)]; }

  // `pieces` pieces from the first `alphabet` of the maker's pieces.
  std::string word(std::size_t pieces, std::size_t alphabet) {
    std::string out;
    for (std::size_t i = 0; i < pieces; ++i) out += piece(alphabet);
    return out;
  }

  // `name` with up to `edits` pieces inserted, removed or replaced, or bytes dropped, or the
  // case of ASCII letters flipped.
  std::string edit(std::string name, std::size_t edits, std::size_t alphabet) {
    for (std::size_t e = below(edits + 1); e > 0; --e) {
      const std::size_t at = below(name.size() + 1);
      switch (below(5)) {
        case 0: name.insert(at, piece(alphabet)); break;
        case 1:
          if (at < name.size()) name.erase(at, 1 + below(2));
          break;
        case 2:
          if (at < name.size()) name.replace(at, 1, piece(alphabet));
          break;
        case 3:
          for (char& ch : name) {
            if (below(3) == 0 && ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'))) ch ^= 0x20;
          }
          break;
        default:
          if (at < name.size()) name[at] = piece(alphabet)[0];
          break;
      }
    }
    return name;
  }

 private:
  std::mt19937 rng_;
  const std::vector<std::string>& pieces_;
};

// A list and the names searched in it: some names are the list's own, edited a little; the list
// holds near copies and case variants of one another (ties at every distance); it is sorted, as
// the validator's lists are, or left in any order.
struct Trial {
  std::vector<std::string> list;
  std::vector<std::string> names;
};

Trial make_trial(Maker& m, std::size_t count, std::size_t max_length, std::size_t alphabet,
                 bool sorted) {
  Trial t;
  std::vector<std::string> roots;
  for (std::size_t r = 1 + m.below(4); r > 0; --r) {
    roots.push_back(m.word(m.below(max_length + 1), alphabet));
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& root = roots[m.below(roots.size())];
    t.list.push_back(m.below(8) == 0 ? m.word(m.below(max_length + 1), alphabet)
                                     : m.edit(root, 5, alphabet));
    if (m.below(10) == 0 && !t.list.empty()) t.list.push_back(t.list[m.below(t.list.size())]);
  }
  if (sorted) std::sort(t.list.begin(), t.list.end());
  for (std::size_t i = 0; i < 12; ++i) {
    if (m.below(6) == 0 || t.list.empty()) {
      t.names.push_back(m.word(m.below(max_length + 1), alphabet));
    } else {
      t.names.push_back(m.edit(t.list[m.below(t.list.size())], 5, alphabet));
    }
  }
  t.names.push_back("");
  return t;
}

void run_trials(std::uint32_t seed, int trials, std::size_t count, std::size_t max_length,
                std::size_t alphabet, const std::vector<std::string>& pieces = kPieces) {
  Maker m(seed, pieces);
  for (int i = 0; i < trials; ++i) {
    const Trial t = make_trial(m, m.below(count + 1), max_length, alphabet, i % 3 != 0);
    ASSERT_NO_FATAL_FAILURE(expect_same(t.list, t.names)) << "trial " << i;
  }
}

TEST(ClosestMatchIndex, ShortNamesFewLetters) {
  // Few letters and short names: lists full of ties and candidates one edit apart.
  run_trials(1, 3000, 12, 6, 6);
}

TEST(ClosestMatchIndex, ShortNamesAllPieces) {
  // Letters whose lower case changes byte length, sigmas, malformed bytes.
  run_trials(2, 3000, 12, 8, kPieces.size());
}

TEST(ClosestMatchIndex, ShortNamesLongerAsWritten) {
  // Two letters and the KELVIN SIGN, which is two bytes longer as written than its lower case:
  // many candidates within 3 once lowered are skipped, or not, by the length as written.
  static const std::vector<std::string> pieces = {"a", "b", "k", "\xe2\x84\xaa"};
  run_trials(7, 6000, 10, 6, pieces.size(), pieces);
}

TEST(ClosestMatchIndex, ShortListsAroundEightBytes) {
  // Short lists are searched plainly, with the first 8 bytes of each text compared at once:
  // texts of 6 to 10 bytes, zero bytes that look like the padding past a shorter text's end, and
  // the KELVIN SIGN, equal to "k" once lowered but 2 bytes longer as written.
  static const std::vector<std::string> pieces = {"a", "b", std::string(1, '\0'), "k", "A",
                                                  "\xe2\x84\xaa"};
  run_trials(8, 4000, 30, 10, pieces.size(), pieces);
  run_trials(9, 4000, 30, 10, 4, pieces);
}

TEST(ClosestMatchIndex, NamesUpToHundredPieces) {
  run_trials(3, 600, 30, 100, kPieces.size());
  run_trials(4, 600, 30, 100, 10);
}

TEST(ClosestMatchIndex, LongLists) {
  // Hundreds of candidates searched many times through one index.
  Maker m(5);
  for (int i = 0; i < 20; ++i) {
    Trial t = make_trial(m, 400 + m.below(800), 14, i % 2 == 0 ? 8 : kPieces.size(), i % 4 != 0);
    for (std::size_t k = 0; k < 150; ++k) {
      t.names.push_back(m.edit(t.list[m.below(t.list.size())], 4, kPieces.size()));
    }
    ASSERT_NO_FATAL_FAILURE(expect_same(t.list, t.names)) << "list " << i;
  }
}

TEST(ClosestMatchIndex, LongListsEditsNearEitherEnd) {
  // Lists long enough for the index of places near the roots, with many short entries, and
  // names of 8 to 30 bytes edited near their start or near their end (inserted, left out or
  // replaced bytes), where the search starts its walks.
  Maker m(8);
  for (int i = 0; i < 12; ++i) {
    const std::size_t alphabet = i % 3 == 0 ? 4 : i % 3 == 1 ? 10 : kPieces.size();
    std::vector<std::string> list;
    for (std::size_t k = 300 + m.below(500); k > 0; --k) {
      list.push_back(m.word(1 + m.below(k % 4 == 0 ? 6 : 20), alphabet));
    }
    std::sort(list.begin(), list.end());
    std::vector<std::string> names;
    for (std::size_t k = 0; k < 250; ++k) {
      std::string name = list[m.below(list.size())];
      if (name.size() < 8) name += m.word(8, alphabet);
      const bool front = k % 2 == 0;
      for (std::size_t e = 1 + m.below(3); e > 0; --e) {
        const std::size_t span = std::max<std::size_t>(1, name.size() / 2);
        const std::size_t at = front ? m.below(span) : name.size() - 1 - m.below(span);
        switch (m.below(3)) {
          case 0: name.insert(at, m.piece(alphabet)); break;
          case 1: name.erase(at, 1); break;
          default: name.replace(at, 1, m.piece(alphabet)); break;
        }
      }
      names.push_back(name);
    }
    ASSERT_NO_FATAL_FAILURE(expect_same(list, names)) << "list " << i;
  }
}

// One edit of `name` at `at` by its `kind`: a piece put in, the byte there left out, replaced by
// a piece's first byte, or its case bit flipped.
template <class Piece>
void edit_at(std::string& name, std::size_t at, std::size_t kind, Piece&& piece) {
  switch (kind) {
    case 0:
      name.insert(at, piece());
      break;
    case 1:
      if (at < name.size()) name.erase(at, 1);
      break;
    case 2:
      if (at < name.size()) name[at] = piece()[0];
      break;
    default:
      if (at < name.size()) name[at] = static_cast<char>(name[at] ^ 0x20);
      break;
  }
}

// Word-like lists over many letters, where a few bytes of a name pick out the candidates that can
// be close to it: names one to four edits from a candidate (at every distance, ties between case
// variants and copies), new words, names cut short or grown, of 1 to 70 bytes; the lists hold only
// letters whose lower case keeps its length, or also a few that do not.
TEST(ClosestMatchIndex, WordLikeLists) {
  static const std::vector<std::string> syllables = {
      "ba", "ce", "di", "fo", "gu", "ha", "je", "ki", "lo", "mu", "na", "pe", "ri", "so", "tu",
      "va", "we", "xi", "yo", "zu", "st", "tr", "ch", "ou", "ea", "Ba", "CE", "dI", "_",  "7"};
  std::vector<std::string> letters;
  for (char c = 'a'; c <= 'z'; ++c) letters.push_back(std::string(1, c));
  for (char c = 'A'; c <= 'Z'; ++c) letters.push_back(std::string(1, c));
  Maker m(9, letters);
  std::mt19937 rng(10);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::size_t kinds = syllables.size();
  auto word = [&](std::size_t count) {
    std::string out;
    for (std::size_t k = 0; k < count; ++k) out += syllables[below(kinds)];
    return out;
  };
  for (int i = 0; i < 20; ++i) {
    // Some lists from few syllables, so that pieces of a name stand in many candidates; the last
    // ones long, of words of 5 to 7 syllables.
    kinds = i % 4 == 1 || i >= 16 ? 6 + i % 3 : syllables.size();
    std::vector<std::string> list;
    for (std::size_t k = i >= 16 ? 3000 : 300 + below(1500); k > 0; --k) {
      list.push_back(i >= 16 ? word(5 + below(3)) : word(1 + below(i % 4 == 0 ? 3 : 12)));
      if (below(8) == 0) list.push_back(m.edit(list.back(), 1 + below(3), letters.size()));
      if (below(16) == 0) list.push_back(list[below(list.size())]);
    }
    if (i % 4 == 3) {
      list.push_back("\xe2\x84\xaa" + word(3));  // KELVIN SIGN: 3 bytes, "k" once lowered
    }
    if (i % 5 != 4) std::sort(list.begin(), list.end());
    std::vector<std::string> names;
    for (std::size_t k = 0; k < 400; ++k) {
      std::string name = list[below(list.size())];
      switch (below(6)) {
        case 0:
          name = word(1 + below(14));
          break;
        case 1:
          name = name.substr(0, below(name.size() + 1));
          break;
        case 2:
          name += word(1);
          break;
        default:
          break;
      }
      for (std::size_t e = below(5); e > 0; --e) {
        const std::size_t at = below(name.size() + 1);
        edit_at(name, at, below(4), [&] { return m.piece(letters.size()); });
      }
      if (below(40) == 0) name += "\xc4\xb0";  // İ: one byte longer once lowered
      names.push_back(name);
    }
    ASSERT_NO_FATAL_FAILURE(expect_same(list, names)) << "list " << i;
  }
}

TEST(ClosestMatchIndex, ManyShortCandidates) {
  // Thousands of texts of 1 to 8 letters: a short name has more candidates of nearby lengths than
  // it pays to measure one by one (all of them, then many over few letters), or, over the whole
  // alphabet, few that share its letters.
  std::vector<std::string> letters;
  for (char c = 'a'; c <= 'z'; ++c) letters.push_back(std::string(1, c));
  for (char c = 'A'; c <= 'Z'; ++c) letters.push_back(std::string(1, c));
  Maker m(11, letters);
  for (int i = 0; i < 4; ++i) {
    const std::size_t alphabet = i % 2 == 0 ? 6 : letters.size();
    std::vector<std::string> list;
    for (std::size_t k = i < 2 ? 15000 : 3000; k > 0; --k) {
      list.push_back(m.word(1 + m.below(8), alphabet));
    }
    if (i != 3) std::sort(list.begin(), list.end());
    std::vector<std::string> names;
    for (std::size_t k = 0; k < 150; ++k) {
      names.push_back(k % 3 == 0 ? m.word(m.below(11), letters.size())
                                 : m.edit(list[m.below(list.size())], 4, letters.size()));
    }
    ASSERT_NO_FATAL_FAILURE(expect_same(list, names)) << "list " << i;
  }
}

TEST(ClosestMatchIndex, NumberedLists) {
  // A prefix and a number, as in generated schemas (Label0 ... Label4999): every candidate shares
  // the prefix, and a name is within 3 of thousands of them, so that the pieces of a name stand
  // in most of the list. Names: candidates with one to three edits anywhere (in the prefix, among
  // the digits, at either end), case flips, numbers past the list's end, other prefixes; lists
  // with copies and case variants, sorted or not.
  std::vector<std::string> letters;
  for (char c = '0'; c <= '9'; ++c) letters.push_back(std::string(1, c));
  for (const char c : std::string("lqxywLE_")) letters.push_back(std::string(1, c));
  Maker m(12, letters);
  const std::vector<std::string> prefixes = {"Label", "TYPE_", "p", "item_no"};
  for (int i = 0; i < 5; ++i) {
    const std::string& prefix = prefixes[static_cast<std::size_t>(i) % prefixes.size()];
    std::vector<std::string> list;
    const std::size_t count = i == 4 ? 600 : 2000 + 1500 * static_cast<std::size_t>(i);
    for (std::size_t k = 0; k < count; ++k) list.push_back(prefix + std::to_string(k));
    for (std::size_t k = 0; k < 40; ++k) {
      std::string variant = list[m.below(list.size())];
      for (char& c : variant) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      list.push_back(variant);
      list.push_back(list[m.below(list.size())]);
    }
    if (i != 3) std::sort(list.begin(), list.end());
    std::vector<std::string> names;
    for (std::size_t k = 0; k < 200; ++k) {
      std::string name = list[m.below(list.size())];
      if (k % 10 == 0) name = prefix + std::to_string(count + m.below(3 * count));
      if (k % 25 == 1) name = "q" + name.substr(1);
      for (std::size_t e = 1 + m.below(k % 4 == 0 ? 3 : 1); e > 0; --e) {
        const std::size_t at = k % 3 == 0
                                   ? name.size() - m.below(std::min<std::size_t>(name.size(), 4))
                                   : m.below(name.size() + 1);
        edit_at(name, at, m.below(4), [&] { return m.piece(letters.size()); });
      }
      names.push_back(name);
    }
    ASSERT_NO_FATAL_FAILURE(expect_same(list, names)) << "list " << i;
  }
}

TEST(ClosestMatchIndex, LongNames) {
  // Thousands of bytes, against the reference (whose full rows make longer ones slow).
  Maker m(6);
  for (int i = 0; i < 6; ++i) {
    const std::string base = m.word(1'500, i % 2 == 0 ? 3 : kPieces.size());
    std::vector<std::string> list;
    for (int k = 0; k < 6; ++k) list.push_back(m.edit(base, 5, kPieces.size()));
    list.push_back(base.substr(0, base.size() / 2));
    std::sort(list.begin(), list.end());
    std::vector<std::string> names = {base, m.edit(base, 3, kPieces.size()), list[2],
                                      m.edit(list[4], 2, 3)};
    ASSERT_NO_FATAL_FAILURE(expect_same(list, names)) << "list " << i;
  }
}

TEST(ClosestMatchIndex, MegabyteNames) {
  // Random letters with the first `count` of some far apart letters replaced: two such texts
  // are as far apart as the counts differ.
  Maker m(7);
  std::string base;
  for (std::size_t i = 0; i < 1'000'000; ++i) base += static_cast<char>('a' + m.below(26));
  auto replaced = [&](std::size_t count) {
    std::string text = base;
    for (std::size_t k = 1; k <= count; ++k) {
      char& c = text[k * 100'000 + 17];
      c = c == 'z' ? 'y' : 'z';
    }
    return text;
  };
  std::string upper = replaced(2);
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  const std::vector<std::string> list = {replaced(4), upper, replaced(1), base.substr(1),
                                         base + "x"};
  const Views views(list.begin(), list.end());
  const Candidates index(views);
  struct Case {
    std::string name;
    int want;
  };
  const Case cases[] = {
      {base, 2},                   // 4, then 2 (lowered), then 1
      {replaced(4), 0},            // itself
      {replaced(3), 0},            // 1 from the first
      {replaced(1), 2},            // 3, then 1, then itself
      {replaced(2) + "yz", 1},     // 2 from the second; the others 3 and more
      {std::string(1'000'000, 'q'), -1},
  };
  for (const Case& c : cases) {
    const auto got = position(closest_match(c.name, index), views);
    EXPECT_EQ(got, c.want < 0 ? std::nullopt : std::optional<std::size_t>(c.want));
  }
}

// Hand-made cases of the rules that decide between candidates.
TEST(ClosestMatchIndex, Table) {
  const std::string kelvin = "\xe2\x84\xaa";  // 3 bytes, lower case "k"
  const std::string angstrom = "\xe2\x84\xab";  // 3 bytes, lower case "\xc3\xa5" (2 bytes)
  const std::string a_ring = "\xc3\xa5";
  struct Case {
    std::string name;
    std::vector<std::string> list;
    int want;  // position in the list, -1 for none
  };
  const std::vector<Case> cases = {
      {"person", {"Movie", "Person"}, 1},
      {"Persn", {"Perse", "Person"}, 0},          // a tie: the first wins
      {"Personality", {"Person"}, -1},            // 5 bytes longer
      {"abcdef", {"abcxyz", "abxdef", "abcdeX"}, 1},  // distance 3, then 1 replaces it
      {"abcdef", {"abxyef", "abcdxy", "abcdez"}, 2},  // 2, not replaced by 2, then 1
      {"", {"abcd", "abc", "ab"}, 2},                 // the empty name: distance = length
      {"abc", {"", "x"}, 0},
      {"ab", {"AB", "ab"}, 0},                        // equal after lower-casing: the first
      // A hit at distance 3 lowers the limit to 2; the next candidate is at distance 1 but 3
      // bytes longer as written, so it is skipped, and a later one at distance 2 wins.
      {"k" + a_ring + "abc",
       {"k" + a_ring + "xyz", kelvin + angstrom + "abd", "k" + a_ring + "abxy"},
       2},
      {"k" + a_ring + "abc", {"k" + a_ring + "xyz", kelvin + angstrom + "abd"}, 0},
      // As written 2 bytes apart, equal once lowered: found at distance 0 while the limit is 3.
      {"kab", {kelvin + "ab"}, 0},
      {"kab", {"kabx", kelvin + "ab"}, 0},            // the limit is 0 by then: skipped
      // Distance 2 with both edits at the front, 3 bytes longer as written: the search finds it
      // at 2, which lowers the limit to 1, so the later candidate at 2 does not replace it.
      {"aaa", {"b" + kelvin + "aa", "bba"}, 0},
      {kelvin + kelvin, {"kk"}, -1},                  // 4 bytes apart as written
  };
  for (const Case& c : cases) {
    const Views list(c.list.begin(), c.list.end());
    const auto want = c.want < 0 ? std::nullopt : std::optional<std::size_t>(c.want);
    EXPECT_EQ(reference(c.name, list), want) << show(c.name);
    EXPECT_EQ(position(closest_match(c.name, list), list), want) << show(c.name);
    EXPECT_EQ(position(closest_match(c.name, Candidates(list)), list), want) << show(c.name);
    ASSERT_NO_FATAL_FAILURE(expect_same(c.list, {c.name}));
  }
  EXPECT_FALSE(closest_match("abc", Candidates()).has_value());
}

}  // namespace
}  // namespace tessary
