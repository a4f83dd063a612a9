#include "zabbix/jsonrpc.hpp"

namespace zabbix::jsonrpc {

net::Json envelope(std::string_view metodo, net::Json params, const TokenZabbix& token, Ordem ordem) {
  net::Json corpo{{"jsonrpc", "2.0"}, {"method", metodo}, {"params", std::move(params)}};
  if (token.bearer) {
    corpo["id"] = 1;
  } else if (ordem == Ordem::authId) {
    corpo["auth"] = token.valor;
    corpo["id"] = 1;
  } else {
    corpo["id"] = 1;
    corpo["auth"] = token.valor;
  }
  return corpo;
}

net::Json lerCorpo(std::string_view corpo) {
  try {
    return net::parseJson(corpo);
  } catch (const net::JsonError& erro) {
    throw net::RequestException(erro.what());
  }
}

net::HttpRequest post(const std::string& url, std::string_view contentType, const net::Json& envelope,
                      const TokenZabbix& token) {
  net::HttpRequest pedido;
  pedido.method = "POST";
  pedido.url = url;
  pedido.headers = {{"Content-Type", std::string(contentType)}};
  if (token.bearer && token.temToken())
    pedido.headers.emplace_back("Authorization", "Bearer " + net::plainText(token.valor));
  pedido.body = net::serialize(envelope);
  pedido.connectTimeout = LIMITE_CONEXAO;
  pedido.idleTimeout = LIMITE_RESPOSTA;
  return pedido;
}

}  // namespace zabbix::jsonrpc
