// The command line, read once at start-up into a value that the run hands down.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "discovery/discovery.hpp"

namespace run {

struct LinhaComando {
  std::string nomeInvocacao;            // argv[0], exactly as passed
  std::string mode;
  std::vector<std::string> argumentos;  // the nine after the mode, as given; none in the mode-only form
  std::optional<discovery::Configuracao> configuracao;  // only from the full form
};

/// Raised when a mode needs the full command line and was given the mode alone.
class LinhaComandoIncompleta : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads exactly 1 or 10 arguments after the program name, else nullopt. `caBundle` is
/// the trust store the run will use.
std::optional<LinhaComando> lerLinhaComando(int argc, const char* const* argv, const std::string& caBundle);

/// Overwrites the password arguments in the process's own argument memory so that
/// ps and /proc/PID/cmdline stop showing them.
void ocultarSenhas(int argc, char** argv);

}  // namespace run
