// The discovery run: registry, selection, the worker pool, then storing or the report.
#pragma once

#include <atomic>
#include <string>
#include <variant>

#include "registry/registry.hpp"
#include "store/destination.hpp"
#include "zabbix/worker.hpp"

namespace discovery {

/// What one run needs, from the command line and the trust settings.
struct Configuracao {
  registry::Conta contaRegistro = registry::contaCompilada();  // the compiled one unless the file gives one
  net::Credentials zabbix;
  // Where the rows go, or why the command line's host or port cannot be used: a run that
  // stores its records is refused before it starts when they cannot.
  std::variant<store::DestinoQuestDb, std::string> questDb;
  bool modoDebug = false;
  std::string caBundle;  // PEM file trusted instead of the system store; empty: the system store
};

/// What a run got done, for its health report; -1 while not known. Atomic: the report may
/// be written from the time limit's own thread.
struct Totais {
  std::atomic<long> clientesStatus1{-1};
  std::atomic<long> clientesStatus0{-1};
  std::atomic<long> linhasGravadas{0};
  std::atomic<long> linhasDeixadasDeFora{0};  // records the table cannot hold
};

/// How a discovery that raised no failure ended.
enum class Conclusao {
  armazenada,        // normal mode: rows stored, "OK" printed
  relatorio,         // debug mode: the report printed
  ingestaoRecusada,  // the ingestion failure printed on stderr: the rows were not stored
};

/// Runs the whole discovery, keeping `totais` up to date. In normal mode
/// `configuracao.questDb` must hold a destination.
Conclusao descobertaPPPoE(const Configuracao& configuracao, Totais& totais);

}  // namespace discovery
