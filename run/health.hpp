// The health file: how each run ended, in the text format of node-exporter's textfile
// collector, so that a monitor sees runs that stopped storing.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "discovery/discovery.hpp"

namespace run {

/// How a run ended, as the health file tells it.
enum class Desfecho {
  armazenado,        // normal mode: rows stored, "OK" printed
  relatorio,         // debug mode: report printed
  falhou,            // a failure no step handled
  ingestaoRecusada,  // an "Erro: " line: the rows were not stored
  tempoEsgotado,     // the run-time limit struck
  linhaComando,      // the wrong number of arguments, a configuration file or a QuestDB address refused
  outroModo,         // version, launch_ or an unknown mode
};

/// One run's health, written to `caminho` when the run ends.
class Saude {
 public:
  explicit Saude(std::string caminho);

  discovery::Totais& totais() { return totais_; }

  /// Writes the file in one step (a temporary file in the same folder, then renamed), so
  /// that a reader never sees half of it. A file that cannot be written is left as it was,
  /// with one "Aviso: " line on stderr: the run's stdout and status never depend on it.
  void registrar(Desfecho desfecho, int status);

  /// The file's text; `ultimoSucesso` carries over from the previous file unless this run stored.
  std::string texto(Desfecho desfecho, int status, std::optional<double> ultimoSucesso) const;

 private:
  std::string caminho_;
  std::chrono::system_clock::time_point inicio_ = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point inicioMonotonico_ = std::chrono::steady_clock::now();
  discovery::Totais totais_;
};

/// The time of the last stored run in a health file's text, if it holds one.
std::optional<double> ultimoSucessoEm(const std::string& texto);

}  // namespace run
