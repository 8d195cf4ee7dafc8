#pragma once
// How a label, relationship type or property name is written in a query text.
#include <string>
#include <string_view>

namespace tessary {

// Whether the grammar reads `name`, standing alone, as a plain name: an ASCII letter or "_"
// followed by ASCII letters, digits and "_", and not one of the reserved words in any letter case.
bool is_plain_name(std::string_view name);

// `name` as it must be written in a query: as it is when it is a plain name, otherwise between
// backticks. A name that holds a backtick cannot be written at all and is returned unchanged.
std::string name_as_written(std::string_view name);

}  // namespace tessary
