#include "store/questdb_query.hpp"

#include <optional>

#include "base/console.hpp"
#include "net/status.hpp"

namespace store {

namespace {

net::HttpRequest pedidoExec(const DestinoQuestDb& questDb, const std::string& sqlQuery) {
  net::HttpRequest pedido;
  pedido.url = "http://" + questDb.host + "/exec";
  pedido.query = {{"query", sqlQuery}, {"fmt", "json"}};
  pedido.basic = questDb.credenciais;
  return pedido;
}

}  // namespace

net::Json consultarQuestDb(net::HttpClient& http, const DestinoQuestDb& questDb, const std::string& sqlQuery) {
  const net::HttpRequest pedido = pedidoExec(questDb, sqlQuery);
  std::optional<net::HttpResponse> resposta;
  try {
    resposta = http.perform(pedido);
  } catch (const net::RequestException& e) {
    base::console::line("Error: " + std::string(e.what()));
    return nullptr;
  }
  // Decoded outside the handler: a body that is not JSON is the caller's business. Its
  // status says why to an operator (401: a wrong password; 502: a proxy in between).
  try {
    return net::parseJson(resposta->body);
  } catch (const net::JsonError& e) {
    throw net::JsonError(net::statusText(resposta->status) + ": " + e.what());
  }
}

}  // namespace store
