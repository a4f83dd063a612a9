// The two records that cross subsystems: the client work item and the discovery record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/json.hpp"

namespace discovery {

/// One selected customer link, handed to a worker. The values are the registry's own
/// (usually text); the worker checks their types, so a wrong type fails that worker only.
struct ClienteDados {
  net::Json link;      // base address of the customer's Zabbix front end
  net::Json nome;      // the customer's name (the registry's "empresa")
  net::Json numero;    // the customer's number as decimal text
  net::Json parceiro;  // the partner the customer belongs to
};

using ListaClientes = std::vector<ClienteDados>;

/// One customer link's outcome; the fields in the order of their keys
/// "{#CLIENTE}", "{#STATUS}", "{#NUMERO}", "{#PARCEIRO}", "{#PPPOE}".
struct RegistroDescoberta {
  std::string cliente;                // the customer's plain name
  std::int64_t status = 0;            // 1: front end logged in and queried; 0: it failed
  std::int64_t numero = 0;
  std::string parceiro;
  std::optional<std::int64_t> pppoe;  // always 0 with status 0; empty: no usable value

  bool operator==(const RegistroDescoberta&) const = default;
};

/// The records of one run, in the order in which their workers finished.
using ResultadoDescoberta = std::vector<RegistroDescoberta>;

}  // namespace discovery
