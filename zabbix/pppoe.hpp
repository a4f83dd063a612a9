// The customer's total of PPPoE sessions, read from its group-sum item.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/http.hpp"
#include "zabbix/jsonrpc.hpp"

namespace zabbix {

/// item.get of grpsum["CONCENTRADORES","pppoeTotal",last] on "Zabbix server": the first
/// item's "lastvalue" as an integer, or no value when the answer holds none (a Zabbix
/// "error" included). A request failure gives no value too, with the line
/// "Erro na requisição: <description>" in debug mode. An answer of another shape fails
/// with RespostaInesperada, a last value that is no integer with NumeralInvalido.
std::optional<std::int64_t> obterValorSessaoPPPoE(net::HttpClient& http, const std::string& zabbixUrl,
                                                  const TokenZabbix& zabbixToken, bool modoDebug);

}  // namespace zabbix
