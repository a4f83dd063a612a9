// The program's entry: command line, time limit, dispatch on the mode, exit status.
#pragma once

#include "run/command_line.hpp"

namespace run {

/// Dispatches on the mode inside the time-limited section, keeping `totais` up to date;
/// returns the exit status.
int despachar(const LinhaComando& linha, discovery::Totais& totais);

/// The whole program; returns the process's exit status.
int executar(int argc, char** argv);

}  // namespace run
