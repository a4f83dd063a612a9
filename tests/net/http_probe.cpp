// Test driver: performs one exchange described as JSON in argv[1] with the real HTTP
// core and prints the outcome as one JSON line.
#include <iostream>

#include "net/http.hpp"
#include "net/json.hpp"
#include "base/deadline.hpp"

namespace {

net::HttpRequest lerPedido(const net::Json& d) {
  net::HttpRequest pedido;
  pedido.method = d.value("method", "GET");
  pedido.url = d.at("url").get<std::string>();
  for (const auto& h : d.value("headers", net::Json::array())) pedido.headers.emplace_back(h[0], h[1]);
  for (const auto& q : d.value("query", net::Json::array())) pedido.query.emplace_back(q[0], q[1]);
  if (d.contains("body")) pedido.body = d["body"].get<std::string>();
  for (const auto& piece : d.value("parts", net::Json::array())) pedido.bodyParts.push_back(piece.get<std::string>());
  if (d.contains("basic")) pedido.basic = net::Credentials{d["basic"][0], d["basic"][1]};
  if (d.contains("idle_ms")) pedido.idleTimeout = pedido.connectTimeout = std::chrono::milliseconds(d["idle_ms"].get<long>());
  if (d.contains("connect_ms")) pedido.connectTimeout = std::chrono::milliseconds(d["connect_ms"].get<long>());
  pedido.followRedirects = d.value("follow", true);
  return pedido;
}

net::Json executar(const net::Json& d) {
  net::CurlClient cliente(d.value("ca", std::string()));
  std::optional<base::RuntimeGuard> guarda;
  if (d.contains("deadline_s")) guarda.emplace(d["deadline_s"].get<int>());
  const auto resposta = cliente.perform(lerPedido(d));
  return {{"status", resposta.status},
          {"location", resposta.location},
          {"body", net::Json::binary({resposta.body.begin(), resposta.body.end()})}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  net::Json saida;
  try {
    saida = executar(net::Json::parse(argv[1]));
    // Bytes as a list of numbers: the body need not be UTF-8.
    const auto& bytes = saida["body"].get_binary();
    saida["body"] = net::Json(std::vector<int>(bytes.begin(), bytes.end()));
  } catch (const base::TimeoutException& e) {
    saida = {{"error", "TimeoutException"}, {"message", e.what()}};
  } catch (const net::RequestException& e) {
    saida = {{"error", "RequestException"}, {"message", e.what()}, {"transient", e.transient()}};
  }
  std::cout << saida.dump() << std::endl;
  return 0;
}
