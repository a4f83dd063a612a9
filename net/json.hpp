// Decoded JSON values and the one-line ASCII serialisation of request bodies.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.hpp"

namespace net {

/// A parsed JSON document; objects keep their member order.
using Json = nlohmann::ordered_json;

/// A body that should be JSON and is not. Each caller says what that means for it.
class JsonError : public base::Failure {
 public:
  explicit JsonError(const std::string& message) : Failure(base::FailureKind::notJson, message) {}
};

/// A text that cannot be serialised (not valid UTF-8).
class JsonEncodeError : public base::Failure {
 public:
  explicit JsonEncodeError(const std::string& message) : Failure(base::FailureKind::notUtf8, message) {}
};

/// Deepest nesting of arrays and objects that parseJson accepts. Copying, comparing and
/// printing a value recurse once per level; a peer's "[[[[…" must not run the stack out.
inline constexpr std::size_t MAX_JSON_DEPTH = 1000;

/// Parses a body (strict UTF-8); JsonError when it is not JSON or nests deeper
/// than MAX_JSON_DEPTH.
Json parseJson(std::string_view body);

/// Parses a body as parseJson does, with the same failures and messages, but when the
/// document is an array its elements are never held together: each one is handed to
/// `onElement`, in order, once it is complete, and nullopt is returned. Any other
/// document is returned whole. After `onElement` returns false the remaining elements
/// are only checked, not built.
std::optional<Json> parseJsonElements(std::string_view body, const std::function<bool(Json&)>& onElement);

/// One line, ", " between members and elements, ": " after keys, members in insertion
/// order, every character outside ASCII as a lower-case \uXXXX escape (surrogate pairs
/// beyond the basic plane), the short escapes for quote, backslash, \b \f \n \r \t,
/// other control characters as \u00XX, the solidus as is.
std::string serialize(const Json& value);

/// Compact JSON text (no spaces), ASCII only.
std::string compactJson(const Json& value);

/// The plain text of a value: text unchanged, anything else as compact JSON.
std::string plainText(const Json& value);

}  // namespace net
