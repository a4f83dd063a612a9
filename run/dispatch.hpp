// The program's entry: command line, time limit, dispatch on the mode, exit status.
#pragma once

namespace run {

/// Dispatches on the mode inside the time-limited section; returns the exit status.
int despachar();

/// The whole program; returns the process's exit status.
int executar(int argc, char** argv);

}  // namespace run
