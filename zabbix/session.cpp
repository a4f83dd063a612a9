#include "zabbix/session.hpp"

#include <chrono>

#include "base/console.hpp"
#include "base/deadline.hpp"

namespace zabbix {

namespace {

// What 6.4 and later answer to the classic login: 6.4 and 7.0 refuse "user", 7.2 on
// refuse the "auth" member. Nothing else may cost a second login (wrong passwords
// would block the account sooner).
constexpr const char* PARAMETRO_USUARIO_RECUSADO = R"(Invalid parameter "/": unexpected parameter "user".)";
constexpr const char* PARAMETRO_AUTENTICACAO_RECUSADO = R"(Invalid parameter "/": unexpected parameter "auth".)";

struct RespostaLogin {
  net::Json resultado;  // null: no token
  bool pedeFormaNova = false;
};

net::HttpRequest pedidoLogin(const std::string& zabbixUrl, const std::string& usuario, const std::string& senha,
                             bool formaNova) {
  const net::Json params{{formaNova ? "username" : "user", usuario}, {"password", senha}};
  const TokenZabbix semToken{nullptr, formaNova};
  auto pedido = jsonrpc::post(zabbixUrl, "application/json-rpc",
                              jsonrpc::envelope("user.login", params, semToken, jsonrpc::Ordem::idAuth), semToken);
  pedido.idleTimeout = jsonrpc::LIMITE_RESPOSTA_LOGIN;
  return pedido;
}

bool recusaFormaAntiga(const net::Json& corpo) {
  const auto erro = corpo.find("error");
  if (erro == corpo.end() || !erro->is_object()) return false;
  const auto dados = erro->find("data");
  return dados != erro->end() && (*dados == PARAMETRO_USUARIO_RECUSADO || *dados == PARAMETRO_AUTENTICACAO_RECUSADO);
}

// The status does not matter; a refused login is an object with "error" and no "result".
RespostaLogin lerRespostaLogin(const net::HttpResponse& resposta) {
  const net::Json corpo = jsonrpc::lerCorpo(resposta.body);
  if (!corpo.is_object()) return {};
  const auto resultado = corpo.find("result");
  if (resultado != corpo.end()) return {*resultado};
  return {nullptr, recusaFormaAntiga(corpo)};
}

RespostaLogin tentarLogin(net::HttpClient& http, const net::HttpRequest& pedido) {
  try {
    return lerRespostaLogin(http.perform(pedido));
  } catch (const base::TimeoutException&) {
    throw;
  } catch (...) {
    return {};
  }
}

bool logoutConfirmado(const net::Json& corpo) {
  if (!corpo.is_object()) throw RespostaInesperada("user.logout: a resposta não é um objeto JSON");
  const auto resultado = corpo.find("result");
  return resultado != corpo.end() && resultado->is_boolean() && resultado->get<bool>();
}

}  // namespace

TokenZabbix obterTokenZabbix(net::HttpClient& http, const std::string& zabbixUrl, const std::string& usuarioZabbix,
                             const std::string& senhaZabbix) {
  try {
    const auto classica = tentarLogin(http, pedidoLogin(zabbixUrl, usuarioZabbix, senhaZabbix, false));
    if (!classica.pedeFormaNova) return TokenZabbix{classica.resultado};
    return TokenZabbix{tentarLogin(http, pedidoLogin(zabbixUrl, usuarioZabbix, senhaZabbix, true)).resultado, true};
  } catch (const base::TimeoutException&) {
    throw;
  } catch (...) {  // building a request can fail too (a password that is not UTF-8)
    return TokenZabbix{};
  }
}

bool userLogout(net::HttpClient& http, const std::string& baseUrl, const TokenZabbix& authToken) {
  const auto pedido =
      jsonrpc::post(baseUrl, "application/json",
                    jsonrpc::envelope("user.logout", net::Json::array(), authToken, jsonrpc::Ordem::idAuth), authToken);
  const net::HttpResponse resposta = http.perform(pedido);
  if (resposta.status == 200 && logoutConfirmado(jsonrpc::lerCorpo(resposta.body))) return true;
  base::console::line("Não foi possível fazer logout em " + baseUrl + ": " + resposta.body);
  return false;
}

}  // namespace zabbix
