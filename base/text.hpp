// Text that comes from peers: whether it is UTF-8, and how to show it in a log line.
#pragma once

#include <string>
#include <string_view>

namespace base {

/// True when the whole text is UTF-8.
bool isUtf8(std::string_view text);

/// The text as a terminal or a journal can show it on one line without acting on it:
/// control characters (C0, DEL, C1), the line and paragraph separators and the
/// direction controls become \uXXXX, bytes that are not UTF-8 \xHH, and the backslash
/// is doubled so that no escape is ambiguous. Anything else is left as it is.
std::string printable(std::string_view text);

}  // namespace base
