// The program's version and the console colour sequences.
#pragma once

#include <string_view>

namespace base {

inline constexpr std::string_view VERSION = "1.0.4";

// ANSI SGR sequences, written verbatim whether or not stdout is a terminal.
inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view RESET = "\x1b[0;0m";

}  // namespace base
