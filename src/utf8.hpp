#pragma once
// Small UTF-8 helpers shared by the schema reader and the diagnostics.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessary {

// Decodes the code point starting at s[i]; returns its byte length, or 0 when the bytes there are
// not a well-formed sequence (overlong forms, surrogates and values above U+10FFFF included).
inline std::size_t utf8_decode(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t len;
  std::uint32_t v;
  if ((b & 0xE0) == 0xC0) {
    len = 2;
    v = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3;
    v = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4;
    v = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    v = (v << 6) | (c & 0x3F);
  }
  static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  cp = v;
  return len;
}

// True when the whole text is well-formed UTF-8.
inline bool utf8_valid(std::string_view s) {
  std::uint32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = utf8_decode(s, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace tessary
