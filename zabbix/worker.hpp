// One customer link from start to end: login, PPPoE count, logout, discovery record.
#pragma once

#include <string>

#include "base/failure.hpp"
#include "net/http.hpp"
#include "records/records.hpp"

namespace zabbix {

/// A work item whose "parceiro", "numero", "nome" or "link" is not text.
class ItemInvalido : public base::Failure {
 public:
  explicit ItemInvalido(const std::string& message) : Failure(base::FailureKind::invalidItem, message) {}
};

/// The front end's JSON-RPC endpoint for a registry link: the link followed by
/// "/api_jsonrpc.php", with "https://" in front unless it starts with "http".
std::string montarZabbixUrl(const std::string& link);

/// Queries one customer's Zabbix with the command line's user name and password (the same
/// for every customer) and returns its record: status 0 with count 0 when the
/// login gave no token or a request failed (a yellow or red line in debug mode),
/// otherwise status 1 with the count or no value. Fails before any request with
/// ItemInvalido; after the requests with NumeralInvalido for a "numero" that is not an
/// integer, and with the RespostaInesperada / NumeralInvalido that the count and the
/// logout let through.
records::RegistroDescoberta processarCliente(net::HttpClient& http, const records::ClienteDados& clienteDados,
                                             const net::Credentials& credenciais, bool modoDebug);

}  // namespace zabbix
