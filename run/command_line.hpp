// The command line, read once at start-up into a value that the run hands down.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.hpp"
#include "discovery/discovery.hpp"

namespace run {

struct LinhaComando {
  std::string nomeInvocacao;  // argv[0], exactly as passed
  std::string mode;
  std::vector<std::string> argumentos;                  // the nine after the mode, as given; none in the mode-only form
  std::optional<discovery::Configuracao> configuracao;  // from the full form or the configuration file
};

/// Raised when a mode needs the full command line and was given the mode alone.
class LinhaComandoIncompleta : public base::Failure {
 public:
  explicit LinhaComandoIncompleta(const std::string& message)
      : Failure(base::FailureKind::incompleteCommandLine, message) {}
};

/// The names the configuration file gives the nine arguments after the mode, in their order.
inline constexpr std::array<std::string_view, 9> NOMES_ARGUMENTOS = {
    "ZABBIX_USER",  "ZABBIX_PASSWORD", "REGISTRY_USER",    "REGISTRY_PASSWORD", "QUESTDB_HOST",
    "QUESTDB_PORT", "QUESTDB_USER",    "QUESTDB_PASSWORD", "DEBUG_SWITCH"};

/// Reads exactly 1 or 10 arguments after the program name, else nullopt.
std::optional<LinhaComando> lerLinhaComando(int argc, const char* const* argv);

/// The run's settings from the nine arguments after the mode, in the command line's order.
discovery::Configuracao configuracaoDe(const std::vector<std::string>& argumentos);

/// Overwrites the password arguments in the process's own argument memory so that
/// ps and /proc/PID/cmdline stop showing them.
void ocultarSenhas(int argc, char** argv);

}  // namespace run
