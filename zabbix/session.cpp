#include "zabbix/session.hpp"

#include <chrono>

#include "run/console.hpp"
#include "run/process_control.hpp"

namespace zabbix {

namespace {

// A front end that cannot even answer a login in this time is treated as down.
constexpr std::chrono::seconds LOGIN_TIMEOUT{5};

net::HttpRequest pedidoLogin(const std::string& zabbixUrl, const std::string& usuario, const std::string& senha) {
  const net::Json params{{"user", usuario}, {"password", senha}};
  auto pedido = jsonrpc::post(zabbixUrl, "application/json-rpc",
                              jsonrpc::envelope("user.login", params, TokenZabbix{}, jsonrpc::Ordem::idAuth));
  pedido.idleTimeout = LOGIN_TIMEOUT;
  return pedido;
}

// The status does not matter; a refused login is an object with "error" and no "result".
net::Json resultadoLogin(const net::HttpResponse& resposta) {
  const net::Json corpo = net::parseJson(resposta.body);
  if (!corpo.is_object()) return nullptr;
  const auto resultado = corpo.find("result");
  return resultado == corpo.end() ? net::Json(nullptr) : *resultado;
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
    return TokenZabbix{resultadoLogin(http.perform(pedidoLogin(zabbixUrl, usuarioZabbix, senhaZabbix)))};
  } catch (const run::TimeoutException&) {
    throw;
  } catch (...) {
    return TokenZabbix{};
  }
}

bool userLogout(net::HttpClient& http, const std::string& baseUrl, const TokenZabbix& authToken) {
  const auto pedido = jsonrpc::post(
      baseUrl, "application/json", jsonrpc::envelope("user.logout", net::Json::array(), authToken, jsonrpc::Ordem::idAuth));
  const net::HttpResponse resposta = http.perform(pedido);
  if (resposta.status == 200 && logoutConfirmado(net::parseJson(resposta.body))) return true;
  run::console::linha("Não foi possível fazer logout em " + baseUrl + ": " + resposta.body);
  return false;
}

}  // namespace zabbix
