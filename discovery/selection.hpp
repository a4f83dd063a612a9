// Which customer links of the registry's list are queried.
#pragma once

#include "discovery/records.hpp"
#include "net/json.hpp"

namespace discovery {

/// Raised when the registry's list does not have the shape the run reads.
class ListaInvalida : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// One work item per "zabbix" link of every "ornivex" product, in entry, product and
/// link order. Fails on a list that is not an array of entries (an empty object or an
/// empty text yield nothing), an entry without "empresa", "numero" or "parceiro", a
/// product without "tipo", or a "produto" or "link" that is not a list of objects.
ListaClientes selecionarClientes(const net::Json& listaClientesDados);

/// The customer number as text: an integer becomes its decimal digits, text is unchanged.
net::Json numeroComoTexto(const net::Json& numero);

}  // namespace discovery
