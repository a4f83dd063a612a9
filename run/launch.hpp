// The hand-over to a background run.
#pragma once

#include "run/command_line.hpp"

namespace run {

/// Starts this same program again as a detached background process (new session,
/// standard streams on /dev/null, no other descriptor inherited) with the mode after
/// the first "launch_" and the other arguments as given; returns at once.
void launch(const LinhaComando& linha);

}  // namespace run
