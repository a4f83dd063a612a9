// Opening and closing a session on a customer's Zabbix JSON-RPC API.
#pragma once

#include <string>

#include "net/http.hpp"
#include "zabbix/jsonrpc.hpp"

namespace zabbix {

/// user.login. Never fails: a refused login, a time-out, an unreachable host or an answer
/// of any odd shape all give no token, silently. Only base::TimeoutException passes.
/// A front end that refuses the classic form for its "user" or "auth" member (6.4 on)
/// gets one more login in the newer form, and its token is a bearer token.
TokenZabbix obterTokenZabbix(net::HttpClient& http, const std::string& zabbixUrl, const std::string& usuarioZabbix,
                             const std::string& senhaZabbix);

/// user.logout. True when the front end answered status 200 with "result" exactly true;
/// otherwise prints "Não foi possível fazer logout em <url>: <body>" and returns false.
/// A request failure, or a 200 body that is not JSON, reaches the caller as
/// RequestException; a 200 JSON body that is not an object as RespostaInesperada.
bool userLogout(net::HttpClient& http, const std::string& baseUrl, const TokenZabbix& authToken);

}  // namespace zabbix
