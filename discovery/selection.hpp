// Which customer links of the registry's list are queried.
#pragma once

#include <exception>
#include <string_view>

#include "base/failure.hpp"
#include "net/json.hpp"
#include "records/records.hpp"

namespace discovery {

/// Raised when the registry's list does not have the shape the run reads.
class ListaInvalida : public base::Failure {
 public:
  explicit ListaInvalida(const std::string& message) : Failure(base::FailureKind::invalidList, message) {}
};

/// One work item per "zabbix" link of every "ornivex" product, in entry, product and
/// link order. Fails on a list that is not an array of entries (an empty object or an
/// empty text yield nothing), an entry without "empresa", "numero" or "parceiro", a
/// product without "tipo", or a "produto" or "link" that is not a list of objects.
records::ListaClientes selecionarClientes(const net::Json& listaClientesDados);

/// What selecionarDoCorpo found: the work items, or the failure that selecionarClientes
/// would have thrown on the parsed body (then `lista` is empty).
struct SelecaoDoCorpo {
  records::ListaClientes lista;
  std::exception_ptr falha;
};

/// The same selection read straight from the registry's body, entry by entry, so that
/// the list is never held as one tree. A body that is not JSON throws net::JsonError
/// as parseJson does, also when an entry before the fault was already wrong: the parse
/// failure comes first, as it did when the body was parsed whole before selecting.
SelecaoDoCorpo selecionarDoCorpo(std::string_view corpo);

/// The customer number as text: an integer becomes its decimal digits, text is unchanged.
net::Json numeroComoTexto(const net::Json& numero);

}  // namespace discovery
