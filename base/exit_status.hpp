// The exit statuses of the program, named once.
#pragma once

namespace base {

inline constexpr int STATUS_OK = 0;           // run completed (also: time limit reached, unknown mode)
inline constexpr int STATUS_FAILURE = 1;      // wrong command line or a failure the run could not handle
inline constexpr int STATUS_OUTPUT_LOST = 2;  // stdout could not be written after a normal end
inline constexpr int STATUS_CONFIG = 78;      // the configuration file cannot be used (EX_CONFIG)

}  // namespace base
