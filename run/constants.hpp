// Process-wide constants and the console colour sequences.
#pragma once

#include <string_view>

#include "run/config.hpp"

namespace run {

inline constexpr std::string_view VERSION = "1.0.4";

/// Bound on the time-limited section, in seconds (300 in every production build).
inline constexpr int RUNTIME_LIMIT = config::RUNTIME_LIMIT_SECONDS;

// ANSI SGR sequences, written verbatim whether or not stdout is a terminal.
inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view RESET = "\x1b[0;0m";

}  // namespace run
