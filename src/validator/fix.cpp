// Applying suggestions to the query text at the places the findings name, in one pass.
#include "validator/fix.hpp"

#include <algorithm>

#include "validator/inline_list.hpp"

namespace tessary {

namespace {

// Suggestions for labels and relationship types carry the ":" before the name in both
// fragments; the name itself stands after it.
bool replaces_after_colon(DiagnosticCode code) {
  switch (code) {
    case DiagnosticCode::UnknownNodeLabel:
    case DiagnosticCode::UnknownNodeLabelInSet:
    case DiagnosticCode::UnknownNodeLabelInRemove:
    case DiagnosticCode::UnknownRelType:
      return true;
    default:
      return false;
  }
}

// One name of the query and what is written in its place.
struct Splice {
  std::size_t offset;
  std::size_t length;
  std::string_view text;
};

}  // namespace

std::optional<std::string> compute_fixed_query(std::string_view query,
                                               const std::vector<ValidationDiagnostic>& diagnostics,
                                               const std::vector<SuggestionSite>& sites) {
  bool any_error = false;
  for (const auto& d : diagnostics) {
    if (d.severity != Severity::Error) continue;
    any_error = true;
    if (!d.suggestion) return std::nullopt;  // all or nothing
  }
  if (!any_error) return std::nullopt;

  InlineList<Splice, 8> splices;
  splices.reserve(sites.size());
  for (const SuggestionSite& site : sites) {
    const ValidationDiagnostic& d = diagnostics[site.diagnostic];
    if (d.severity != Severity::Error || !d.suggestion) continue;
    std::string_view name = d.suggestion->original;
    std::string_view text = d.suggestion->replacement;
    if (replaces_after_colon(d.code) && name.starts_with(':') && text.starts_with(':')) {
      name.remove_prefix(1);
      text.remove_prefix(1);
    }
    // A site always shows the name it is about; anything else is left alone.
    if (query.substr(std::min<std::size_t>(site.offset, query.size()), name.size()) != name) {
      continue;
    }
    splices.emplace_back(Splice{site.offset, name.size(), text});
  }
  // Sites come in the order their findings were found; at a name with several findings the
  // first one's replacement stays first.
  const auto by_offset = [](const Splice& a, const Splice& b) { return a.offset < b.offset; };
  if (splices.size() <= 16) {
    // A few splices: sorted in place by insertion, which keeps equal offsets in order as well.
    for (Splice* at = splices.begin() + 1; at < splices.end(); ++at) {
      const Splice moving = *at;
      Splice* to = at;
      for (; to != splices.begin() && by_offset(moving, *(to - 1)); --to) *to = *(to - 1);
      *to = moving;
    }
  } else {
    std::stable_sort(splices.begin(), splices.end(), by_offset);
  }

  std::string out;
  out.reserve(query.size());
  std::size_t copied = 0;
  for (const Splice& splice : splices) {
    if (splice.offset < copied) continue;  // this name is rewritten already
    out.append(query.substr(copied, splice.offset - copied));
    out.append(splice.text);
    copied = splice.offset + splice.length;
  }
  out.append(query.substr(copied));
  return out;
}

}  // namespace tessary
