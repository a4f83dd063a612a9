// The discovery run: registry, selection, the worker pool, then storing or the report.
#pragma once

#include <string>

#include "registry/registry.hpp"
#include "store/questdb_query.hpp"
#include "zabbix/worker.hpp"

namespace discovery {

/// What one run needs, from the command line and the trust settings.
struct Configuracao {
  registry::Credenciais registro;
  zabbix::Credenciais zabbix;
  store::AcessoQuestDb questDb;
  bool modoDebug = false;
  std::string caBundle;  // PEM file trusted instead of the system store; empty: the system store
};

/// Runs the whole discovery; returns the exit status of the run.
int descobertaPPPoE(const Configuracao& configuracao);

}  // namespace discovery
