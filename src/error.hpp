#pragma once
// The error value of query building and query generation.
#include <cstdint>
#include <string>
#include <utility>

namespace tessary {

enum class CypherErrorKind : std::uint8_t { Parse, Semantic, Generator };

struct CypherError {
  CypherErrorKind kind = CypherErrorKind::Parse;
  std::string message;

  static CypherError parse(std::string message) {
    return {CypherErrorKind::Parse, std::move(message)};
  }
  static CypherError semantic(std::string message) {
    return {CypherErrorKind::Semantic, std::move(message)};
  }
  static CypherError generator(std::string message) {
    return {CypherErrorKind::Generator, std::move(message)};
  }

  // "Parse error: {}", "Semantic error: {}" or "Generator error: {}".
  std::string display() const {
    const char* prefix = kind == CypherErrorKind::Parse      ? "Parse error: "
                         : kind == CypherErrorKind::Semantic ? "Semantic error: "
                                                             : "Generator error: ";
    return prefix + message;
  }
};

}  // namespace tessary
