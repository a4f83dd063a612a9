#include "registry/registry.hpp"

#include <gtest/gtest.h>

#include "registry/config.hpp"
#include "tests/support/fake_http.hpp"

namespace {

using net::Json;
using testing_support::FakeHttp;

const std::string BASE = registry::config::REGISTRY_API_URL;
const std::string ORIGIN = registry::config::PORTAL_ORIGIN;
// The build's own account: whatever the site file of this build set.
const std::string LOGIN = registry::config::REGISTRY_LOGIN;
const std::string PASSWORD = registry::config::REGISTRY_PASSWORD;
const std::string BROWSER = "Mozilla/5.0 (X11; Linux x86_64; rv:129.0) Gecko/20100101 Firefox/129.0";

net::Headers expectedLoginHeaders() {
  return {{"User-Agent", BROWSER},
          {"Accept", "application/json, text/plain, */*"},
          {"Accept-Language", "pt-BR"},
          {"Accept-Encoding", "gzip, deflate, br, zstd"},
          {"Content-Type", "application/json"},
          {"Origin", ORIGIN},
          {"Connection", "keep-alive"},
          {"Referer", ORIGIN + "/"},
          {"Sec-Fetch-Dest", "empty"},
          {"Sec-Fetch-Mode", "cors"},
          {"Sec-Fetch-Site", "same-site"},
          {"Priority", "u=0"},
          {"TE", "trailers"}};
}

net::Headers expectedListHeaders(const std::string& authorization) {
  return {{"User-Agent", BROWSER},
          {"Accept", "application/json, text/plain, */*"},
          {"Accept-Language", "pt-BR"},
          {"Accept-Encoding", "gzip, deflate, br, zstd"},
          {"Authorization", authorization},
          {"x-user-id", "7c1e5a90-3b2d-4f6e-9a8c-d0b4e2f61a37"},
          {"Origin", ORIGIN},
          {"Connection", "keep-alive"},
          {"Referer", ORIGIN + "/"},
          {"Sec-Fetch-Dest", "empty"},
          {"Sec-Fetch-Mode", "cors"},
          {"Sec-Fetch-Site", "same-site"},
          {"TE", "trailers"}};
}

TEST(ObterTokenSistemaTQ, SendsTheAccountItIsGiven) {
  {
    FakeHttp http;
    http.respond(200, R"({"token": "t"})");
    registry::obterTokenSistemaTQ(http, registry::contaCompilada());
    ASSERT_EQ(http.requests().size(), 1u);
    const auto& pedido = http.requests()[0];
    EXPECT_EQ(pedido.method, "POST");
    EXPECT_EQ(pedido.url, BASE + "/login");
    EXPECT_EQ(pedido.headers, expectedLoginHeaders());
    EXPECT_EQ(pedido.body, net::serialize(Json{{"login", LOGIN}, {"senha", PASSWORD}}));
    EXPECT_TRUE(pedido.query.empty());
    EXPECT_FALSE(pedido.basic);
    EXPECT_FALSE(pedido.idleTimeout);  // only the run's own limit bounds it
  }
  FakeHttp http;
  http.respond(200, R"({"token": "t"})");
  registry::obterTokenSistemaTQ(http, {"do-arquivo", "s\"enha"});
  EXPECT_EQ(http.requests()[0].body, R"({"login": "do-arquivo", "senha": "s\"enha"})");
}

TEST(ObterTokenSistemaTQ, ReturnsTheTokenUnchangedWhateverTheStatus) {
  const struct {
    long status;
    const char* corpo;
    Json token;
  } casos[] = {
      {200, R"({"token": "abc.def", "user": 1})", "abc.def"},
      {401, R"({"erro": "x", "token": "mesmo assim"})", "mesmo assim"},
      {500, R"({"token": 123456789012})", 123456789012},
      {200, R"({"token": null})", nullptr},
      {200, R"({"token": {"a": [1]}})", Json{{"a", Json::array({1})}}},
  };
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(caso.status, caso.corpo);
    EXPECT_EQ(registry::obterTokenSistemaTQ(http, registry::contaCompilada()), caso.token) << caso.corpo;
  }
}

TEST(ObterTokenSistemaTQ, RaisesWhenThereIsNoToken) {
  const std::pair<long, const char*> semToken[] = {{401, R"({"erro": "não autorizado"})"},
                                                   {200, "[]"},
                                                   {200, R"([{"token": "t"}])"},
                                                   {200, "null"},
                                                   {200, R"("token")"}};
  for (const auto& [status, corpo] : semToken) {
    FakeHttp http;
    http.respond(status, corpo);
    EXPECT_THROW(registry::obterTokenSistemaTQ(http, registry::contaCompilada()), registry::TokenAusente) << corpo;
  }
  for (const char* corpo : {"", "<html><body>502</body></html>", R"({"token": "t")"}) {
    FakeHttp http;
    http.respond(200, corpo);
    EXPECT_THROW(registry::obterTokenSistemaTQ(http, registry::contaCompilada()), net::JsonError) << corpo;
  }
  FakeHttp http;
  http.fail("Could not resolve host: api.registro.example.net");
  EXPECT_THROW(registry::obterTokenSistemaTQ(http, registry::contaCompilada()), net::RequestException);
}

TEST(ObterListaClientes, SendsTheTokenInItsTextFormWithTheFixedHeaders) {
  const std::pair<Json, std::string> casos[] = {
      {"eyJhbGciOi.x.y", "Bearer eyJhbGciOi.x.y"},
      {123456789012, "Bearer 123456789012"},
      {-7, "Bearer -7"},
      {Json{{"a", "ç"}}, R"(Bearer {"a":"\u00e7"})"},
      {nullptr, "Bearer null"},
  };
  for (const auto& [token, authorization] : casos) {
    FakeHttp http;
    http.respond(200, "[]");
    registry::obterListaClientes(http, token);
    ASSERT_EQ(http.requests().size(), 1u);
    const auto& pedido = http.requests()[0];
    EXPECT_EQ(pedido.method, "GET");
    EXPECT_EQ(pedido.url, BASE + "/acessos");
    EXPECT_EQ(pedido.headers, expectedListHeaders(authorization));
    EXPECT_FALSE(pedido.body);
    EXPECT_TRUE(pedido.query.empty());
    EXPECT_FALSE(pedido.idleTimeout);
  }
}

TEST(ObterListaClientes, ReturnsTheBodyAsItCameWhateverTheStatus) {
  const std::pair<long, const char*> casos[] = {
      {200, R"([{"empresa": "Alfa", "numero": 1, "parceiro": "P"}])"},
      {401, R"({"message": "Unauthorized"})"},
      {200, "<!DOCTYPE html><html></html>"},
  };
  for (const auto& [status, corpo] : casos) {
    FakeHttp http;
    http.respond(status, corpo);
    EXPECT_EQ(registry::obterListaClientes(http, "t"), corpo);
  }
  FakeHttp recusado;
  recusado.fail("Failed to connect to api.registro.example.net port 443");
  EXPECT_THROW(registry::obterListaClientes(recusado, "t"), net::RequestException);
}

}  // namespace
