#include "zabbix/pppoe.hpp"

#include <cmath>

#include "base/console.hpp"
#include "zabbix/numeral.hpp"

namespace zabbix {

namespace {

constexpr const char* CHAVE_ITEM = R"(grpsum["CONCENTRADORES","pppoeTotal",last])";

net::HttpRequest pedidoItemGet(const std::string& zabbixUrl, const TokenZabbix& zabbixToken) {
  const net::Json params{
      {"output", {"itemid", "name", "lastvalue"}}, {"host", "Zabbix server"}, {"search", {{"key_", CHAVE_ITEM}}}};
  return jsonrpc::post(zabbixUrl, "application/json-rpc",
                       jsonrpc::envelope("item.get", params, zabbixToken, jsonrpc::Ordem::authId), zabbixToken);
}

// "Empty or false": what a front end sends when it has no figure for us.
bool vazioOuFalso(const net::Json& valor) {
  switch (valor.type()) {
    case net::Json::value_t::null: return true;
    case net::Json::value_t::boolean: return !valor.get<bool>();
    case net::Json::value_t::number_integer: return valor.get<std::int64_t>() == 0;
    case net::Json::value_t::number_unsigned: return valor.get<std::uint64_t>() == 0;
    case net::Json::value_t::number_float: return valor.get<double>() == 0.0;
    case net::Json::value_t::string: return valor.get_ref<const std::string&>().empty();
    default: return valor.empty();  // array, object
  }
}

std::int64_t truncado(double valor) {
  const double inteiro = std::trunc(valor);
  // 2^63 is exact in a double. -2^63 is left out too: the parser turns an integer
  // numeral just past INT64_MIN (-9223372036854775809) into that very double.
  if (!(inteiro > -9223372036854775808.0 && inteiro < 9223372036854775808.0)) {
    throw NumeralInvalido("lastvalue fora do intervalo de 64 bits: " + net::compactJson(valor));
  }
  return static_cast<std::int64_t>(inteiro);
}

std::int64_t paraInteiro(const net::Json& lastvalue) {
  switch (lastvalue.type()) {
    case net::Json::value_t::string: return lerNumeral(lastvalue.get_ref<const std::string&>());
    case net::Json::value_t::number_integer: return lastvalue.get<std::int64_t>();
    case net::Json::value_t::number_unsigned:
      if (lastvalue.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) break;
      return lastvalue.get<std::int64_t>();
    case net::Json::value_t::number_float: return truncado(lastvalue.get<double>());
    default: break;
  }
  throw NumeralInvalido("lastvalue não é um inteiro: " + net::compactJson(lastvalue).substr(0, 100));
}

std::optional<std::int64_t> valorDaResposta(const net::Json& resposta) {
  if (!resposta.is_object()) throw RespostaInesperada("item.get: a resposta não é um objeto JSON");
  const auto resultado = resposta.find("result");
  if (resultado == resposta.end() || vazioOuFalso(*resultado)) return std::nullopt;
  if (!resultado->is_array() || !resultado->front().is_object()) {
    throw RespostaInesperada("item.get: \"result\" não é uma lista de itens");
  }
  const net::Json& item = resultado->front();
  const auto lastvalue = item.find("lastvalue");
  if (lastvalue == item.end() || vazioOuFalso(*lastvalue)) return std::nullopt;
  return paraInteiro(*lastvalue);
}

}  // namespace

std::optional<std::int64_t> obterValorSessaoPPPoE(net::HttpClient& http, const std::string& zabbixUrl,
                                                  const TokenZabbix& zabbixToken, bool modoDebug) {
  net::Json resposta;
  try {
    resposta = jsonrpc::lerCorpo(http.perform(pedidoItemGet(zabbixUrl, zabbixToken)).body);
  } catch (const net::RequestException& erro) {
    if (modoDebug) base::console::line(std::string("Erro na requisição: ") + erro.what());
    return std::nullopt;
  }
  return valorDaResposta(resposta);
}

}  // namespace zabbix
