#include "net/json.hpp"

#include <cstdint>

namespace net {

namespace {

constexpr char HEX[] = "0123456789abcdef";

void escapeUnit(std::string& out, std::uint32_t unit) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(HEX[(unit >> shift) & 0xF]);
}

[[noreturn]] void invalidUtf8(std::size_t position) {
  throw JsonEncodeError("text is not valid UTF-8 (byte " + std::to_string(position) + ")");
}

// Decodes the code point that starts at `i` and advances `i` past it.
std::uint32_t decodeUtf8(std::string_view text, std::size_t& i) {
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char first = byteAt(i);
  std::size_t extras;
  std::uint32_t cp;
  std::uint32_t minimum;
  if (first >= 0xC2 && first <= 0xDF) {
    extras = 1, cp = first & 0x1F, minimum = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    extras = 2, cp = first & 0x0F, minimum = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    extras = 3, cp = first & 0x07, minimum = 0x10000;
  } else {
    invalidUtf8(i);
  }
  if (i + extras >= text.size()) invalidUtf8(i);
  for (std::size_t k = 1; k <= extras; ++k) {
    if ((byteAt(i + k) & 0xC0) != 0x80) invalidUtf8(i + k);
    cp = (cp << 6) | (byteAt(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) invalidUtf8(i);
  i += extras + 1;
  return cp;
}

void writeString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::uint32_t cp = decodeUtf8(text, i);
      if (cp < 0x10000) {
        escapeUnit(out, cp);
      } else {
        escapeUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
        escapeUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          escapeUnit(out, c);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

void writeValue(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      out.push_back('{');
      const char* separator = "";
      for (const auto& [key, member] : value.items()) {
        out += separator;
        writeString(out, key);
        out += ": ";
        writeValue(out, member);
        separator = ", ";
      }
      out.push_back('}');
      break;
    }
    case Json::value_t::array: {
      out.push_back('[');
      const char* separator = "";
      for (const auto& element : value) {
        out += separator;
        writeValue(out, element);
        separator = ", ";
      }
      out.push_back(']');
      break;
    }
    case Json::value_t::string: writeString(out, value.get_ref<const std::string&>()); break;
    default:  // null, booleans and numbers have one spelling
      out += value.dump();
  }
}

// Counts brackets outside strings. Exact for any text the parser accepts, which is all
// that matters: on anything else the parser fails on its own.
bool tooDeep(std::string_view body) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > MAX_JSON_DEPTH) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

// The parser's callback for parseJsonElements. When the document is an array, each of
// its elements is handed over once complete and then dropped from the tree, so the array
// never holds more than the one being built; once no more are wanted the rest are skipped.
// Any other document is kept whole.
class ElementEvents {
 public:
  explicit ElementEvents(const std::function<bool(Json&)>& element) : onElement_(element) {}

  bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
    using Event = Json::parse_event_t;
    if (depth == 0 && event == Event::array_start) isArray_ = true;
    if (!isArray_ || depth != 1) return true;
    switch (event) {
      case Event::object_start:
      case Event::array_start: return wantMore_;
      case Event::value:
      case Event::object_end:
      case Event::array_end:
        if (wantMore_) wantMore_ = onElement_(parsed);
        return false;
      default: return true;
    }
  }

  bool isArray() const { return isArray_; }

 private:
  const std::function<bool(Json&)>& onElement_;
  bool isArray_ = false;
  bool wantMore_ = true;
};

void checkDepth(std::string_view body) {
  if (tooDeep(body)) {
    throw JsonError("invalid JSON: nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
  }
}

// A number past what a double holds ("1e400") comes from the parser as out_of_range 406,
// not as a parse error; it is a body we cannot read all the same.
[[noreturn]] void numberOverflow(const Json::out_of_range& error) {
  if (error.id != 406) throw error;
  throw JsonError(std::string("invalid JSON: ") + error.what());
}

}  // namespace

Json parseJson(std::string_view body) {
  checkDepth(body);
  try {
    return Json::parse(body.begin(), body.end());
  } catch (const Json::parse_error& error) {
    throw JsonError(std::string("invalid JSON: ") + error.what());
  } catch (const Json::out_of_range& error) {
    numberOverflow(error);
  }
}

std::optional<Json> parseJsonElements(std::string_view body, const std::function<bool(Json&)>& element) {
  checkDepth(body);
  ElementEvents events(element);
  Json document;
  try {
    document = Json::parse(body.begin(), body.end(), std::ref(events));
  } catch (const Json::parse_error& error) {
    throw JsonError(std::string("invalid JSON: ") + error.what());
  } catch (const Json::out_of_range& error) {
    numberOverflow(error);
  }
  if (events.isArray()) return std::nullopt;
  return document;
}

std::string serialize(const Json& value) {
  std::string out;
  writeValue(out, value);
  return out;
}

std::string compactJson(const Json& value) {
  try {
    return value.dump(-1, ' ', true);
  } catch (const Json::type_error& error) {
    throw JsonEncodeError(error.what());
  }
}

std::string plainText(const Json& value) { return value.is_string() ? value.get<std::string>() : compactJson(value); }

}  // namespace net
