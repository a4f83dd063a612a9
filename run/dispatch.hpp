// The program's entry: command line, time limit, dispatch on the mode, exit status.
#pragma once

#include "run/command_line.hpp"
#include "run/health.hpp"

namespace run {

/// How a mode ended that raised no failure.
struct Termino {
  Desfecho desfecho;
  int status;
};

/// Dispatches on the mode inside the time-limited section, keeping `totais` up to date.
Termino despachar(const LinhaComando& linha, discovery::Totais& totais);

/// The whole program; returns the process's exit status.
int executar(int argc, char** argv);

}  // namespace run
