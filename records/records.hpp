// The two records that cross subsystems: the client work item and the discovery record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/json.hpp"

namespace records {

/// One selected customer link, handed to a worker. The values are the registry's own
/// (usually text); the worker checks that they are text, so a wrong type fails that
/// worker only. The four are kept as one block of text: a large list selects thousands
/// of these before the pool starts, and four JSON values cost three times as much.
class ClienteDados {
 public:
  enum class Campo : std::uint8_t {
    link,      // base address of the customer's Zabbix front end
    nome,      // the customer's name (the registry's "empresa")
    numero,    // the customer's number as decimal text
    parceiro,  // the partner the customer belongs to
  };

  ClienteDados() = default;
  ClienteDados(const net::Json& link, const net::Json& nome, const net::Json& numero, const net::Json& parceiro);

  /// The value's text, or nullopt when the registry gave another type.
  std::optional<std::string_view> texto(Campo campo) const;

  /// The value as text whatever its type (any other type as compact JSON), for messages.
  std::string_view comoTexto(Campo campo) const;

  bool operator==(const ClienteDados&) const = default;

 private:
  std::string dados_;                    // the four texts one after the other
  std::array<std::uint32_t, 4> fins_{};  // where each one ends in dados_
  std::uint8_t textos_ = 0;              // one bit per Campo: the value was text
};

using ListaClientes = std::vector<ClienteDados>;

/// One customer link's outcome; the fields in the order of their keys
/// "{#CLIENTE}", "{#STATUS}", "{#NUMERO}", "{#PARCEIRO}", "{#PPPOE}".
struct RegistroDescoberta {
  std::string cliente;      // the customer's plain name
  std::int64_t status = 0;  // 1: front end logged in and queried; 0: it failed
  std::int64_t numero = 0;
  std::string parceiro;
  std::optional<std::int64_t> pppoe;  // always 0 with status 0; empty: no usable value

  bool operator==(const RegistroDescoberta&) const = default;
};

/// The records of one run, in the order in which their workers finished.
using ResultadoDescoberta = std::vector<RegistroDescoberta>;

}  // namespace records
