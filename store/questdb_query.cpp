#include "store/questdb_query.hpp"

#include <optional>

#include "run/console.hpp"
#include "run/settings.hpp"

namespace store {

namespace {

net::HttpRequest pedidoExec(const std::string& questDbIp, const std::string& sqlQuery) {
  const auto& s = run::settings();
  net::HttpRequest pedido;
  pedido.url = "http://" + questDbIp + "/exec";
  pedido.query = {{"query", sqlQuery}, {"fmt", "json"}};
  pedido.basic = net::BasicCredentials{run::exigir(s.questDbUser, "questDbUser"), run::exigir(s.questDbPass, "questDbPass")};
  return pedido;
}

}  // namespace

net::Json consultarQuestDb(net::HttpClient& http, const std::string& questDbIp, const std::string& sqlQuery) {
  const net::HttpRequest pedido = pedidoExec(questDbIp, sqlQuery);
  std::optional<net::HttpResponse> resposta;
  try {
    resposta = http.perform(pedido);
  } catch (const net::RequestException& e) {
    run::console::linha("Error: " + std::string(e.what()));
    return nullptr;
  }
  // Decoded outside the handler: a body that is not JSON is the caller's business.
  return net::parseJson(resposta->body);
}

}  // namespace store
