// Process-wide settings read from the command line, written once at start-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace run {

struct Settings {
  std::string nomeInvocacao;  // argv[0], exactly as passed
  std::string mode;
  // Absent in the mode-only form of the command line.
  std::optional<std::string> usuarioZabbix, senhaZabbix, usuarioTQ, senhaTQ, questDbIp,
      questDbPort, questDbUser, questDbPass, zabbixHost;
};

/// Raised when an operation needs a setting that the mode-only form did not give.
class SettingAusente : public std::exception {
 public:
  explicit SettingAusente(std::string_view nome);
  const char* what() const noexcept override { return mensagem_.c_str(); }

 private:
  std::string mensagem_;
};

/// Reads the command line: exactly 1 or 10 arguments after the program name, else nullopt.
std::optional<Settings> lerLinhaComando(int argc, const char* const* argv);

/// Stores the settings. Called by main before any thread exists (and by tests).
void fixarSettings(Settings settings);
const Settings& settings();

/// The value of a setting, or SettingAusente.
const std::string& exigir(const std::optional<std::string>& setting, std::string_view nome);

/// Debug mode is on exactly when the last argument is the text "debug".
bool modoDebug();

/// Overwrites the password arguments in the process's own argument memory so that
/// ps and /proc/PID/cmdline stop showing them.
void ocultarSenhas(int argc, char** argv);

}  // namespace run
