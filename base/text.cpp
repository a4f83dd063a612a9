#include "base/text.hpp"

#include <cstddef>
#include <cstdint>

namespace base {

namespace {

constexpr char HEX[] = "0123456789abcdef";

std::uint32_t codePointAt(std::string_view text, std::size_t i, std::size_t length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  if (length == 1) return byte(0);
  std::uint32_t cp = byte(0) & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(k) & 0x3F);
  return cp;
}

// What a terminal may act on or a reader may misread: controls, separators, direction marks.
bool shownEscaped(std::uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::size_t sequenceLength(unsigned char first) {
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) return 2;
  if (first >= 0xE0 && first <= 0xEF) return 3;
  if (first >= 0xF0 && first <= 0xF4) return 4;
  return 0;
}

void hex(std::string& out, const char* prefix, std::uint32_t value, int digits) {
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.push_back(HEX[(value >> shift) & 0xF]);
}

// The length of the UTF-8 sequence at `i` (1 to 4), or 0 when the bytes there are not one:
// a stray or missing continuation, an overlong form, a surrogate, a code point past U+10FFFF.
std::size_t sequenceAt(std::string_view text, std::size_t i) {
  const std::size_t length = sequenceLength(static_cast<unsigned char>(text[i]));
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  const std::uint32_t cp = codePointAt(text, i, length);
  const std::uint32_t minimum = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceAt(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceAt(text, i);
    if (length == 0) {
      hex(out, "\\x", static_cast<unsigned char>(text[i++]), 2);
      continue;
    }
    const std::uint32_t cp = codePointAt(text, i, length);
    if (shownEscaped(cp)) hex(out, "\\u", cp, 4);
    else if (cp == '\\') out += "\\\\";
    else out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace base
