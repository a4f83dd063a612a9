#include "registry/registry.hpp"

#include "registry/config.hpp"

namespace registry {

namespace {

// The registry only serves requests that look like the maker's portal in a browser.
constexpr const char* USER_AGENT = "Mozilla/5.0 (X11; Linux x86_64; rv:129.0) Gecko/20100101 Firefox/129.0";
constexpr const char* ACCEPT = "application/json, text/plain, */*";
constexpr const char* ACCEPT_LANGUAGE = "pt-BR";
constexpr const char* ACCEPT_ENCODING = "gzip, deflate, br, zstd";
constexpr const char* USER_ID = "7c1e5a90-3b2d-4f6e-9a8c-d0b4e2f61a37";

std::string referer() { return std::string(config::PORTAL_ORIGIN) + "/"; }

net::Headers cabecalhosLogin() {
  return {
      {"User-Agent", USER_AGENT},
      {"Accept", ACCEPT},
      {"Accept-Language", ACCEPT_LANGUAGE},
      {"Accept-Encoding", ACCEPT_ENCODING},
      {"Content-Type", "application/json"},
      {"Origin", config::PORTAL_ORIGIN},
      {"Connection", "keep-alive"},
      {"Referer", referer()},
      {"Sec-Fetch-Dest", "empty"},
      {"Sec-Fetch-Mode", "cors"},
      {"Sec-Fetch-Site", "same-site"},
      {"Priority", "u=0"},
      {"TE", "trailers"},
  };
}

net::Headers cabecalhosLista(const net::Json& tokenTQ) {
  return {
      {"User-Agent", USER_AGENT},
      {"Accept", ACCEPT},
      {"Accept-Language", ACCEPT_LANGUAGE},
      {"Accept-Encoding", ACCEPT_ENCODING},
      {"Authorization", "Bearer " + textoToken(tokenTQ)},
      {"x-user-id", USER_ID},
      {"Origin", config::PORTAL_ORIGIN},
      {"Connection", "keep-alive"},
      {"Referer", referer()},
      {"Sec-Fetch-Dest", "empty"},
      {"Sec-Fetch-Mode", "cors"},
      {"Sec-Fetch-Site", "same-site"},
      {"TE", "trailers"},
  };
}

net::Json tokenDa(const net::Json& resposta) {
  if (!resposta.is_object()) throw TokenAusente("login no registro: a resposta não é um objeto JSON");
  const auto token = resposta.find("token");
  if (token == resposta.end()) throw TokenAusente("login no registro: a resposta não tem \"token\"");
  return *token;
}

}  // namespace

Conta contaCompilada() { return {config::REGISTRY_LOGIN, config::REGISTRY_PASSWORD}; }

net::Json obterTokenSistemaTQ(net::HttpClient& http, const Conta& conta) {
  net::HttpRequest pedido;
  pedido.method = "POST";
  pedido.url = std::string(config::REGISTRY_API_URL) + "/login";
  pedido.headers = cabecalhosLogin();
  pedido.body = net::serialize(net::Json{{"login", conta.login}, {"senha", conta.senha}});
  // The status is not looked at: the body alone says whether we got a token.
  return tokenDa(net::parseJson(http.perform(pedido).body));
}

std::string obterListaClientes(net::HttpClient& http, const net::Json& tokenTQ) {
  net::HttpRequest pedido;
  pedido.url = std::string(config::REGISTRY_API_URL) + "/acessos";
  pedido.headers = cabecalhosLista(tokenTQ);
  return std::move(http.perform(pedido).body);
}

std::string textoToken(const net::Json& token) { return net::plainText(token); }

}  // namespace registry
