// The configuration file of the scheduled runs: NAME=value lines, read literally.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/registry.hpp"

namespace run {

/// The file cannot be used: the text names the file and, where there is one, the line.
class ConfiguracaoInvalida : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// What the file gives a run.
struct ArquivoConfiguracao {
  std::vector<std::string> argumentos;   // the nine after the mode, in the command line's order
  std::optional<registry::Conta> conta;  // the collector's own registry account, when the file gives one
  std::vector<std::pair<std::string, std::string>> ambiente;  // the optional names for the environment
};

/// Reads the file at `caminho`. Each line is empty, a comment ('#' after optional blanks)
/// or NAME=value, the value being everything after the first '=' as written. A byte order
/// mark, a carriage return, an unknown or repeated name, and a missing or empty value of
/// the nine arguments throw ConfiguracaoInvalida, as does a file that cannot be read.
ArquivoConfiguracao lerArquivoConfiguracao(const std::string& caminho);

/// The same from the file's text; `caminho` names it in the messages.
ArquivoConfiguracao lerTextoConfiguracao(std::string_view texto, const std::string& caminho);

}  // namespace run
