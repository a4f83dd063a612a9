#include "zabbix/worker.hpp"

#include <cstdint>
#include <optional>

#include "base/console.hpp"
#include "base/constants.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/pppoe.hpp"
#include "zabbix/session.hpp"

namespace zabbix {

namespace {

// What the front end told of one customer.
struct Leitura {
  std::int64_t status = 0;
  std::optional<std::int64_t> pppoe = 0;
};

using Campo = records::ClienteDados::Campo;

std::string texto(const records::ClienteDados& clienteDados, Campo campo, const char* chave) {
  const auto valor = clienteDados.texto(campo);
  if (!valor) throw ItemInvalido(std::string("item de trabalho: \"") + chave + "\" não é texto");
  return std::string(*valor);
}

std::string montarNomeCliente(const records::ClienteDados& clienteDados) {
  return texto(clienteDados, Campo::parceiro, "parceiro") + " - " + texto(clienteDados, Campo::numero, "numero") +
         " - " + texto(clienteDados, Campo::nome, "nome");
}

void linhaDebug(bool modoDebug, std::string_view cor, const std::string& mensagem) {
  if (modoDebug) base::console::line(std::string(cor) + mensagem + std::string(base::RESET));
}

// Only the two everyday troubles of a customer become status 0; anything else escapes.
Leitura consultarZabbix(net::HttpClient& http, const std::string& zabbixUrl, const std::string& nomeCliente,
                        const net::Credentials& credenciais, bool modoDebug) {
  try {
    const TokenZabbix zabbixToken = obterTokenZabbix(http, zabbixUrl, credenciais.user, credenciais.password);
    if (!zabbixToken.temToken()) {
      linhaDebug(modoDebug, base::YELLOW, nomeCliente + ": Cliente com problema na conexão.");
      return {};
    }
    const auto quantidadePppoe = obterValorSessaoPPPoE(http, zabbixUrl, zabbixToken, modoDebug);
    userLogout(http, zabbixUrl, zabbixToken);  // an unconfirmed logout has printed its line and changes nothing
    return {1, quantidadePppoe};
  } catch (const net::RequestException& erro) {
    linhaDebug(modoDebug, base::RED, std::string("Erro ao conectar no Zabbix: ") + erro.what());
    return {};
  }
}

}  // namespace

std::string montarZabbixUrl(const std::string& link) {
  const std::string zabbixUrl = link + "/api_jsonrpc.php";
  return zabbixUrl.starts_with("http") ? zabbixUrl : "https://" + zabbixUrl;
}

records::RegistroDescoberta processarCliente(net::HttpClient& http, const records::ClienteDados& clienteDados,
                                             const net::Credentials& credenciais, bool modoDebug) {
  const std::string nomeCliente = montarNomeCliente(clienteDados);
  const std::string zabbixUrl = montarZabbixUrl(texto(clienteDados, Campo::link, "link"));
  const Leitura leitura = consultarZabbix(http, zabbixUrl, nomeCliente, credenciais, modoDebug);
  // "numero" is read last on purpose: a bad number fails the task after its requests.
  return {texto(clienteDados, Campo::nome, "nome"), leitura.status,
          lerNumeral(texto(clienteDados, Campo::numero, "numero")), texto(clienteDados, Campo::parceiro, "parceiro"),
          leitura.pppoe};
}

}  // namespace zabbix
