// The diagnostic code table, message templates and "did you mean" suggestions.
#include "diagnostics.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "utf8.hpp"

namespace tessary {

namespace {

struct CodeInfo {
  DiagnosticCode code;
  std::string_view code_str;
  std::string_view name;
  Severity severity;
  std::string_view message_template;  // empty for ParseError: its message is the parse error text
};

constexpr Severity E = Severity::Error;
constexpr Severity W = Severity::Warning;
using C = DiagnosticCode;

// The one table of codes: the enum's order, code strings, code names, severities and templates.
constexpr std::array<CodeInfo, kDiagnosticCodeCount> kCodes{{
    {C::ParseError, "E101", "ParseError", E, ""},
    {C::UnknownNodeLabel, "E201", "UnknownNodeLabel", E, "Unknown node label: :{}{}"},
    {C::UnknownNodeLabelInSet, "E202", "UnknownNodeLabelInSet", E,
     "Unknown node label in SET: :{}{}"},
    {C::UnknownNodeLabelInRemove, "E203", "UnknownNodeLabelInRemove", E,
     "Unknown node label in REMOVE: :{}{}"},
    {C::UnknownRelType, "E211", "UnknownRelType", E, "Unknown relationship type: :{}{}"},
    {C::UnknownNodeProperty, "E301", "UnknownNodeProperty", E,
     "Unknown property '{}' for node label :{}{}"},
    {C::UnknownRelProperty, "E302", "UnknownRelProperty", E,
     "Unknown property '{}' for relationship type :{}{}"},
    {C::UnknownNodePropertyOnVar, "E303", "UnknownNodePropertyOnVar", E,
     "Unknown property '{}' on variable '{}' with label :{}{}"},
    {C::UnknownRelPropertyOnVar, "E304", "UnknownRelPropertyOnVar", E,
     "Unknown property '{}' on variable '{}' with relationship type :{}{}"},
    {C::WrongEndpointLabel, "E401", "WrongEndpointLabel", E,
     "Relationship :{} expects {} label :{}, but node has label(s): {}"},
    {C::UnboundVariable, "E501", "UnboundVariable", E, "Variable '{}' is not bound in this scope"},
    {C::DuplicateProjectionName, "E502", "DuplicateProjectionName", E,
     "Duplicate projection name '{}' in RETURN/WITH"},
    {C::AggregateStringArg, "E601", "AggregateStringArg", E,
     "Aggregate function {}() received a string literal; expected a numeric expression"},
    {C::AggregateInForbiddenContext, "E602", "AggregateInForbiddenContext", E,
     "Aggregate function not allowed in {} context; aggregates are only valid in RETURN, WITH, or "
     "ORDER BY"},
    {C::PaginationTypeString, "E611", "PaginationTypeString", E,
     "{} expression must be an integer, got a string literal"},
    {C::PaginationTypeBool, "E612", "PaginationTypeBool", E,
     "{} expression must be an integer, got a boolean literal"},
    {C::PaginationTypeNull, "E613", "PaginationTypeNull", E,
     "{} expression must be an integer, got NULL"},
    {C::PaginationTypeFloat, "E614", "PaginationTypeFloat", E,
     "{} expression must be an integer, got a float literal"},
    {C::WrongArity, "E603", "WrongArity", E, "Function {}() expects {} argument(s), got {}"},
    {C::CartesianProduct, "W101", "CartesianProduct", W,
     "MATCH pattern contains disconnected parts that will produce a Cartesian product; add a "
     "relationship or shared variable to connect them"},
    {C::UnknownFunction, "W103", "UnknownFunction", W,
     "Unknown function {}(); if this is a user-defined function, ignore this warning"},
    {C::DistinctOnNonAggregate, "W104", "DistinctOnNonAggregate", W,
     "DISTINCT is used with non-aggregate function {}(); DISTINCT only has meaning with aggregate "
     "functions"},
    {C::UnlabeledFullScan, "W201", "UnlabeledFullScan", W,
     "MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes in the "
     "graph"},
    {C::UnboundedVarLength, "W202", "UnboundedVarLength", W,
     "Variable-length relationship without an upper bound ([*] or [*n..]) may cause unbounded "
     "traversal"},
}};

constexpr bool table_in_enum_order() {
  for (std::size_t i = 0; i < kCodes.size(); ++i) {
    if (static_cast<std::size_t>(kCodes[i].code) != i) return false;
    if ((kCodes[i].code_str[0] == 'E') != (kCodes[i].severity == Severity::Error)) return false;
  }
  return true;
}
static_assert(table_in_enum_order(), "code table rows must follow the enum and its severities");

const CodeInfo& info(DiagnosticCode code) {
  const auto i = static_cast<std::size_t>(code);
  return kCodes[i < kCodes.size() ? i : 0];
}

void append_utf8(std::string& out, std::int32_t cp) {
  utf8proc_uint8_t buf[4];
  const utf8proc_ssize_t n = utf8proc_encode_char(cp, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

// Levenshtein distance between two byte strings with two rows, abandoning as soon as a whole row
// exceeds `limit`; returns limit + 1 in that case.
std::size_t bounded_distance(std::string_view a, std::string_view b, std::size_t limit) {
  if (a.empty()) return b.size();
  if (b.empty()) return a.size();
  constexpr std::size_t kInline = 64;
  std::size_t inline_rows[2][kInline + 1];
  std::vector<std::size_t> heap_rows;
  std::size_t* prev;
  std::size_t* cur;
  if (b.size() <= kInline) {
    prev = inline_rows[0];
    cur = inline_rows[1];
  } else {
    heap_rows.resize(2 * (b.size() + 1));
    prev = heap_rows.data();
    cur = prev + b.size() + 1;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (std::size_t i = 0; i < a.size(); ++i) {
    cur[0] = i + 1;
    std::size_t row_min = cur[0];
    for (std::size_t j = 0; j < b.size(); ++j) {
      std::size_t cell;
      if (a[i] == b[j]) {
        cell = prev[j];
      } else {
        cell = 1 + std::min({prev[j], prev[j + 1], cur[j]});
      }
      cur[j + 1] = cell;
      row_min = std::min(row_min, cell);
    }
    if (row_min > limit) return limit + 1;
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

std::size_t length_gap(std::size_t a, std::size_t b) { return a > b ? a - b : b - a; }

// The distance between two byte strings when it is 0 or 1, otherwise 2. Texts one edit apart
// agree up to their first difference, and past it once the longer text's byte there is dropped
// (or, of equal lengths, both texts' bytes there).
// The bytes are compared one by one: the texts are short, and most differ within a few bytes.
inline std::size_t distance_within_one(std::string_view a, std::string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  const std::size_t n = b.size();
  if (a.size() - n > 1) return 2;
  const char* const x = a.data();
  const char* const y = b.data();
  std::size_t same = 0;
  while (same < n && x[same] == y[same]) ++same;
  if (same == a.size()) return 0;
  // Past the difference, x from same + 1 on against y from same + skip on, up to x's end.
  const std::size_t skip = a.size() == n ? 1 : 0;
  for (std::size_t i = same + 1; i < a.size(); ++i) {
    if (x[i] != y[i - 1 + skip]) return 2;
  }
  return 1;
}

// The first 8 bytes of `text` (the first in the low bits), padded with zero bytes.
std::uint64_t text_head(std::string_view text) {
  std::uint64_t head = 0;
  const std::size_t n = std::min<std::size_t>(text.size(), 8);
  for (std::size_t k = n; k-- > 0;) head = head << 8 | static_cast<unsigned char>(text[k]);
  return head;
}

std::uint64_t shifted_down(std::uint64_t word, std::size_t bytes) {
  return bytes >= 8 ? 0 : word >> (8 * bytes);
}

constexpr std::size_t kUnknown = 3;

// distance_within_one of two texts, from their heads (text_head) and byte lengths, which differ
// by at most 1: exact where both are at most 8 bytes long, otherwise 2 where the heads show
// that and kUnknown where they do not.
std::size_t heads_within_one(std::uint64_t a, std::size_t a_size, std::uint64_t b,
                             std::size_t b_size) {
  if (a_size < b_size) {
    std::swap(a, b);
    std::swap(a_size, b_size);
  }
  const bool whole = a_size <= 8;
  const std::uint64_t x = a ^ b;
  if (a_size == b_size) {
    // The bytes where they differ, as their high bits: one of equal length is a replacement.
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t differ = (((x & low7) + low7) | x) & ~low7;
    if (differ == 0) return whole ? 0 : kUnknown;
    if ((differ & (differ - 1)) != 0) return 2;
    return whole ? 1 : kUnknown;
  }
  // The longer one with its first byte that differs (past the shorter one's end, or at its end
  // where the rest agrees) left out: the bytes after it in the heads must agree.
  const std::size_t p = x == 0 ? 8 : static_cast<std::size_t>(std::countr_zero(x)) / 8;
  if (p >= 7) return whole ? 1 : kUnknown;
  const std::uint64_t rest = shifted_down(a, p + 1) ^ shifted_down(b, p);
  const std::uint64_t kept = (std::uint64_t{1} << (8 * (7 - p))) - 1;  // the bytes of both
  if ((rest & kept) != 0) return 2;
  return whole ? 1 : kUnknown;
}

}  // namespace

std::string_view code_str(DiagnosticCode code) { return info(code).code_str; }
std::string_view code_name(DiagnosticCode code) { return info(code).name; }
Severity code_severity(DiagnosticCode code) { return info(code).severity; }
std::string_view code_template(DiagnosticCode code) { return info(code).message_template; }
std::string_view severity_str(Severity severity) {
  return severity == Severity::Warning ? "warning" : "error";
}

namespace {

constexpr std::string_view kHintStart = ", did you mean ";
constexpr std::string_view kHintEnd = "?";

// The pieces of fill_template's text in order, each handed to put(piece): the placeholder after
// those of `args` takes the pieces of `last`.
template <class Put>
void fill_pieces(std::string_view tmpl, std::initializer_list<std::string_view> args,
                 std::initializer_list<std::string_view> last, Put&& put) {
  auto next = args.begin();
  bool last_used = false;
  for (std::size_t from = 0;;) {
    const std::size_t at = tmpl.find('{', from);
    if (at == std::string_view::npos) break;
    if (at + 1 == tmpl.size() || tmpl[at + 1] != '}') {
      from = at + 1;
      continue;
    }
    put(tmpl.substr(0, at));
    if (next != args.end()) {
      put(*next++);
    } else if (!last_used) {
      for (std::string_view piece : last) put(piece);
      last_used = true;
    }
    tmpl.remove_prefix(at + 2);
    from = 0;
  }
  put(tmpl);
}

// fill_template, where the placeholder after those of `args` takes the pieces of `last` joined.
// A text of at most kStackText bytes (every message but those about very long names) is put
// together on the stack and copied into its string at once.
std::string fill(std::string_view tmpl, std::initializer_list<std::string_view> args,
                 std::initializer_list<std::string_view> last) {
  constexpr std::size_t kStackText = 256;
  std::size_t size = tmpl.size();  // at least the text's size
  for (std::string_view a : args) size += a.size();
  for (std::string_view a : last) size += a.size();
  if (size <= kStackText) {
    char text[kStackText];
    std::size_t length = 0;
    fill_pieces(tmpl, args, last, [&](std::string_view piece) {
      if (piece.empty()) return;
      std::memcpy(text + length, piece.data(), piece.size());
      length += piece.size();
    });
    return std::string(text, length);
  }
  std::string out;
  out.reserve(size);
  fill_pieces(tmpl, args, last, [&](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace

std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  return fill(tmpl, args, {});
}

std::string format_message(DiagnosticCode code, std::initializer_list<std::string_view> args) {
  return fill(code_template(code), args, {});
}

std::string format_message(DiagnosticCode code, std::initializer_list<std::string_view> args,
                           const Hint& hint) {
  if (!hint.match) return fill(code_template(code), args, {});
  const std::string_view sigil(&hint.sigil, 1);
  return fill(code_template(code), args, {kHintStart, sigil, *hint.match, kHintEnd});
}

namespace {

bool in_ranges(std::uint32_t cp, std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> r) {
  for (const auto& [lo, hi] : r) {
    if (cp >= lo && cp <= hi) return true;
  }
  return false;
}

// Case_Ignorable: marks, format characters, modifier letters and symbols, and the few
// punctuation characters that may stand inside a word.
bool case_ignorable(std::uint32_t cp) {
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_SK:
      return true;
    default:
      break;
  }
  return in_ranges(cp, {{0x27, 0x27},
                        {0x2E, 0x2E},
                        {0x3A, 0x3A},
                        {0xB7, 0xB7},
                        {0x387, 0x387},
                        {0x55F, 0x55F},
                        {0x5F4, 0x5F4},
                        {0x2018, 0x2019},
                        {0x2024, 0x2024},
                        {0x2027, 0x2027},
                        {0xFE13, 0xFE13},
                        {0xFE52, 0xFE52},
                        {0xFE55, 0xFE55},
                        {0xFF07, 0xFF07},
                        {0xFF0E, 0xFF0E},
                        {0xFF1A, 0xFF1A}});
}

// Cased: upper-, lower- and title-case letters, and the other characters with the Lowercase or
// Uppercase property that are not case-ignorable (ordinal indicators, Roman numerals, circled
// and squared Latin letters).
bool cased(std::uint32_t cp) {
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
      return true;
    default:
      break;
  }
  return in_ranges(cp, {{0xAA, 0xAA},
                        {0xBA, 0xBA},
                        {0x2160, 0x217F},
                        {0x24B6, 0x24E9},
                        {0x1F130, 0x1F149},
                        {0x1F150, 0x1F169},
                        {0x1F170, 0x1F189}});
}

// Whether the first character that is not case-ignorable, looking from `pos` in one direction,
// is cased. Malformed bytes count as neither.
bool cased_before(std::string_view text, std::size_t pos) {
  while (pos > 0) {
    std::size_t start = pos - 1;
    while (start > 0 && pos - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
      --start;
    std::uint32_t cp = 0;
    if (utf8_decode(text, start, cp) != pos - start) return false;
    if (!case_ignorable(cp)) return cased(cp);
    pos = start;
  }
  return false;
}

bool cased_after(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    std::uint32_t cp = 0;
    const std::size_t len = utf8_decode(text, pos, cp);
    if (len == 0) return false;
    if (!case_ignorable(cp)) return cased(cp);
    pos += len;
  }
  return false;
}

}  // namespace

namespace {

// Appends the lower-cased text to `out` (which keeps its capacity between calls).
void lower_into(std::string& out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {  // ASCII fast path: the whole run at once
      std::size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
      const std::size_t at = out.size();
      out.append(text.data() + i, end - i);
      for (auto c = out.begin() + static_cast<std::ptrdiff_t>(at); c != out.end(); ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c + ('a' - 'A'));
      }
      i = end;
      continue;
    }
    std::uint32_t cp = 0;
    const std::size_t len = utf8_decode(text, i, cp);
    if (len == 0) {  // not UTF-8: the byte stays as it is
      out += text[i++];
      continue;
    }
    const std::size_t start = i;
    i += len;
    if (cp == 0x130) {
      // The one unconditional full lower-case mapping longer than the simple one:
      // LATIN CAPITAL LETTER I WITH DOT ABOVE becomes "i" + COMBINING DOT ABOVE.
      out += 'i';
      append_utf8(out, 0x307);
      continue;
    }
    if (cp == 0x3A3) {
      // GREEK CAPITAL LETTER SIGMA becomes the final form at the end of a word: after a cased
      // letter and not before one (case-ignorable characters between are passed over).
      const bool final = cased_before(text, start) && !cased_after(text, i);
      append_utf8(out, final ? 0x3C2 : 0x3C3);
      continue;
    }
    append_utf8(out, utf8proc_tolower(static_cast<utf8proc_int32_t>(cp)));
  }
}

}  // namespace

std::string unicode_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 4);
  lower_into(out, text);
  return out;
}

DistanceFrom::DistanceFrom(std::string_view name) : name_(name) {
  if (name.size() > 64) return;
  for (std::size_t i = 0; i < name.size(); ++i) {
    match_[static_cast<unsigned char>(name[i])] |= std::uint64_t{1} << i;
  }
}

bool DistanceFrom::may_be_within(std::string_view text, std::size_t limit) const {
  if (name_.size() <= limit) return true;
  const std::uint64_t band = (std::uint64_t{1} << (2 * limit + 1)) - 1;
  std::uint64_t kept = 0;
  for (std::size_t j = 0; j < text.size() && j < 64 + limit; ++j) {
    const std::uint64_t at = match_[static_cast<unsigned char>(text[j])];
    // The name's positions j - limit ... j + limit.
    kept |= j >= limit ? at & (band << (j - limit)) : at & (band >> (limit - j));
  }
  return static_cast<std::size_t>(std::popcount(kept)) + limit >= name_.size();
}

namespace {

// Myers' bit-vector form of the table, as Hyyrö states it for whole texts: the distance between
// a name of 1 to 64 bytes, whose positions holding each byte value are `match`, and a text of at
// least one byte.
std::size_t bit_parallel_distance(const std::uint64_t* match, std::size_t name_size,
                                  std::string_view text) {
  const std::uint64_t last = std::uint64_t{1} << (name_size - 1);
  std::uint64_t plus = ~std::uint64_t{0};  // vertical differences of +1
  std::uint64_t minus = 0;                 // vertical differences of -1
  std::size_t score = name_size;
  for (char c : text) {
    const std::uint64_t eq = match[static_cast<unsigned char>(c)];
    const std::uint64_t xv = eq | minus;
    const std::uint64_t xh = (((eq & plus) + plus) ^ plus) | eq;
    std::uint64_t hplus = minus | ~(xh | plus);
    std::uint64_t hminus = plus & xh;
    if (hplus & last) {
      ++score;
    } else if (hminus & last) {
      --score;
    }
    hplus = (hplus << 1) | 1;  // the first row grows by one per byte of the text
    hminus <<= 1;
    plus = hminus | ~(xv | hplus);
    minus = hplus & xv;
  }
  return score;
}

// The byte values of `text`, each as bit (value mod 64).
std::uint64_t byte_values(std::string_view text) {
  std::uint64_t set = 0;
  for (const char c : text) set |= std::uint64_t{1} << (static_cast<unsigned char>(c) & 63);
  return set;
}

// Whether texts holding the byte values `ours` and `theirs` (as byte_values gives them) are
// sure to be more than `m` (at most 3) apart: each value that one holds and the other lacks
// takes an edit of its own, so more than `m` of them on one side are too many.
bool values_apart(std::uint64_t ours, std::uint64_t theirs, std::size_t m) {
  std::uint64_t only_ours = ours & ~theirs;
  std::uint64_t only_theirs = theirs & ~ours;
  for (std::size_t k = 0; k < m; ++k) {
    only_ours &= only_ours - 1;
    only_theirs &= only_theirs - 1;
  }
  return (only_ours | only_theirs) != 0;
}

// DistanceFrom for the plain search, which measures one name against a few candidates: its
// table of the positions of each byte value is set for the byte values of the candidates'
// texts (`text_bytes`, which must hold every byte value of the texts measured) and those of the
// name only, where DistanceFrom zeroes all 256 entries. Nothing is set up before the first
// measurement.
class PlainDistance {
 public:
  PlainDistance(std::string_view name, std::string_view text_bytes)
      : name_(name), text_bytes_(text_bytes) {}
  PlainDistance(const PlainDistance&) = delete;
  PlainDistance& operator=(const PlainDistance&) = delete;

  // As DistanceFrom::to.
  std::size_t to(std::string_view text, std::size_t limit) {
    if (name_.empty()) return text.size();
    if (text.empty()) return name_.size();
    if (name_.size() > 64) return bounded_distance(name_, text, limit);
    if (!ready_) prepare();
    return bit_parallel_distance(match_, name_.size(), text);
  }

 private:
  void prepare() {
    for (char c : text_bytes_) match_[static_cast<unsigned char>(c)] = 0;
    for (char c : name_) match_[static_cast<unsigned char>(c)] = 0;
    for (std::size_t i = 0; i < name_.size(); ++i) {
      match_[static_cast<unsigned char>(name_[i])] |= std::uint64_t{1} << i;
    }
    ready_ = true;
  }

  std::string_view name_;
  std::string_view text_bytes_;
  bool ready_ = false;
  std::uint64_t match_[256];  // only the entries of the bytes above are set
};

}  // namespace

std::size_t DistanceFrom::to(std::string_view text, std::size_t limit) const {
  if (name_.empty()) return text.size();
  if (text.empty()) return name_.size();
  if (name_.size() > 64) return bounded_distance(name_, text, limit);
  return bit_parallel_distance(match_, name_.size(), text);
}

std::optional<std::string_view> closest_match(std::string_view name,
                                              const std::vector<std::string_view>& candidates) {
  // Every candidate in list order, skipped by the two length checks or measured.
  std::size_t max = 3;
  std::optional<std::string_view> best;
  std::string lowered_name;
  bool name_lowered = false;             // lowered_name is made when a candidate passes the
                                         // first length check
  std::string lowered_c;                 // one buffer for all candidates
  std::optional<DistanceFrom> distance;  // made for the first candidate measured within 2 or 3
  for (const std::string_view c : candidates) {
    if (length_gap(c.size(), name.size()) > max) continue;
    if (!name_lowered) {
      lowered_name = unicode_lower(name);
      name_lowered = true;
    }
    lowered_c.clear();
    lower_into(lowered_c, c);
    if (length_gap(lowered_c.size(), lowered_name.size()) > max) continue;
    std::size_t d;
    if (max <= 1) {
      d = distance_within_one(lowered_name, lowered_c);
    } else {
      if (!distance) distance.emplace(lowered_name);
      d = distance->to(lowered_c, max);
    }
    if (d > max) continue;
    if (d == 0) return c;
    best = c;
    max = d - 1;
  }
  return best;
}

// The plain search as closest_match above, over the lowered texts, in three stages by the limit.
// While it is 2 or 3 the candidates are measured by the whole table. Once it is down to 1 (after
// a hit at distance 2 or 1, as most searches for a misspelt name soon have), by their heads and
// distance_within_one. Once it is down to 0 only a candidate of the name's byte length whose
// lowered text is the name's can still be a hit, found by its length and head.
std::optional<std::string_view> Candidates::closest_plain(std::string_view name) const {
  const std::size_t count = names_.size();
  const std::string_view* const names = names_.data();
  const std::size_t* const offsets = offsets_.data();
  const std::string_view text = forward_.text;
  const auto lowered = [&](std::size_t i) {
    return std::string_view(text.data() + offsets[i], offsets[i + 1] - offsets[i]);
  };
  const std::size_t size = name.size();
  std::size_t max = 3;
  std::size_t i = 0;
  while (i < count && length_gap(names[i].size(), size) > max) ++i;
  if (i == count) return std::nullopt;
  // A short ASCII name (nearly every name) is lowered on the stack.
  char ascii_lowered[64];
  std::string unicode_lowered;
  std::string_view lowered_name;
  if (size <= sizeof ascii_lowered &&
      std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
    for (std::size_t k = 0; k < size; ++k) {
      const char c = name[k];
      ascii_lowered[k] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    lowered_name = std::string_view(ascii_lowered, size);
  } else {
    unicode_lowered = unicode_lower(name);
    lowered_name = unicode_lowered;
  }
  const std::size_t lowered_size = lowered_name.size();
  std::size_t best = count;
  PlainDistance distance(lowered_name, text_bytes_);
  const bool letters = !letters_.empty();
  const std::uint64_t name_letters = letters ? byte_values(lowered_name) : 0;
  for (; i < count && max >= 2; ++i) {
    if (length_gap(names[i].size(), size) > max) continue;
    const std::string_view theirs = lowered(i);
    if (length_gap(theirs.size(), lowered_size) > max) continue;
    if (letters && values_apart(name_letters, letters_[i], max)) continue;
    const std::size_t d = distance.to(theirs, max);
    if (d > max) continue;
    if (d == 0) return names[i];
    best = i;
    max = d - 1;
  }
  // The stages within 1 and 0 compare heads first, where the list keeps them.
  const std::uint64_t name_head = text_head(lowered_name);
  const bool heads = !heads_.empty();
  if (max == 1) {
    for (; i < count; ++i) {
      if (length_gap(names[i].size(), size) > 1) continue;
      const std::size_t their_size = offsets[i + 1] - offsets[i];
      if (length_gap(their_size, lowered_size) > 1) continue;
      std::size_t d =
          heads ? heads_within_one(heads_[i], their_size, name_head, lowered_size) : kUnknown;
      if (d == kUnknown) d = distance_within_one(lowered_name, lowered(i));
      if (d > 1) continue;
      if (d == 0) return names[i];
      best = i;
      max = 0;
      ++i;
      break;
    }
  }
  if (max == 0) {
    for (; i < count; ++i) {
      if (names[i].size() != size || offsets[i + 1] - offsets[i] != lowered_size) continue;
      if (heads && heads_[i] != name_head) continue;
      if (lowered_size <= 8 && heads) return names[i];
      if (lowered(i) == lowered_name) return names[i];
    }
  }
  if (best == count) return std::nullopt;
  return names[best];
}

Suggestion label_suggestion_for(std::string_view name, std::string_view match) {
  Suggestion s;
  s.original = std::string(":").append(name);
  s.replacement = std::string(":").append(match);
  s.description = fill_template("Replace {}{} with {}{}", {":", name, ":", match});
  return s;
}

Suggestion property_suggestion_for(std::string_view name, std::string_view match) {
  Suggestion s;
  s.original = std::string(name);
  s.replacement = std::string(match);
  s.description = fill_template("Replace property '{}' with '{}'", {name, match});
  return s;
}

std::string label_hint_for(std::string_view match) {
  return std::string(kHintStart).append(":").append(match).append(kHintEnd);
}

std::string property_hint_for(std::string_view match) {
  return std::string(kHintStart).append(".").append(match).append(kHintEnd);
}

}  // namespace tessary
