#include "zabbix/session.hpp"

#include <gtest/gtest.h>

#include "base/deadline.hpp"
#include "tests/support/fake_http.hpp"
#include "tests/zabbix/zabbix_support.hpp"

namespace {

using net::Json;
using testing_support::FakeHttp;
using namespace zabbix_support;

TEST(ObterTokenZabbix, SendsTheLoginEnvelopeWithItsTimeOut) {
  const struct {
    const char* usuario;
    const char* senha;
    const char* corpo;
  } casos[] = {
      {"Admin", "zabbix",
       R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "Admin", "password": "zabbix"}, "id": 1, "auth": null})"},
      {"coletor", "sénha\"\\😀",
       R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "coletor", "password": "s\u00e9nha\"\\\ud83d\ude00"}, "id": 1, "auth": null})"},
      {"", "",
       R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "", "password": ""}, "id": 1, "auth": null})"},
  };
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(200, loginOk("t"));
    zabbix::obterTokenZabbix(http, URL, caso.usuario, caso.senha);
    ASSERT_EQ(http.requests().size(), 1u);
    const auto& pedido = http.requests()[0];
    EXPECT_EQ(pedido.method, "POST");
    EXPECT_EQ(pedido.url, URL);
    EXPECT_EQ(pedido.headers, (net::Headers{{"Content-Type", "application/json-rpc"}}));
    EXPECT_EQ(pedido.body, caso.corpo);
    EXPECT_EQ(pedido.idleTimeout, std::chrono::milliseconds(5000));
    EXPECT_EQ(pedido.connectTimeout, std::chrono::milliseconds(5000));
    EXPECT_TRUE(pedido.query.empty());
  }
}

TEST(ObterTokenZabbix, TakesResultAsTheTokenAndAnythingElseAsNoTokenSilently) {
  const struct {
    long status;
    const char* corpo;
    Json token;
  } casos[] = {
      {200, R"({"jsonrpc":"2.0","result":"0424bd59b807674191e7d77572075f33","id":1})",
       "0424bd59b807674191e7d77572075f33"},
      {500, R"({"result":"mesmo com 500"})", "mesmo com 500"},
      {200, R"({"result":""})", ""},
      {200, R"({"result":42})", 42},
      {200, R"({"result":null})", nullptr},
      {200, LOGIN_REFUSED, nullptr},
      {200, R"([{"result":"t"}])", nullptr},
      {200, R"("t")", nullptr},
      {200, "<!DOCTYPE html><html><title>Zabbix</title></html>", nullptr},
      {412, "", nullptr},
      {200, R"({"result":"t")", nullptr},
  };
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(caso.status, caso.corpo);
    zabbix::TokenZabbix token;
    EXPECT_EQ(outputOf([&] { token = zabbix::obterTokenZabbix(http, URL, USER, PASSWORD); }), "") << caso.corpo;
    EXPECT_EQ(token.valor, caso.token) << caso.corpo;
    EXPECT_EQ(token.temToken(), !caso.token.is_null()) << caso.corpo;
  }
  FakeHttp caiu;
  caiu.fail("Operation timed out after 5001 milliseconds with 0 bytes received");
  EXPECT_EQ(outputOf([&] { EXPECT_FALSE(zabbix::obterTokenZabbix(caiu, URL, USER, PASSWORD).temToken()); }), "");
}

TEST(ObterTokenZabbix, LetsTheRunTimeLimitThrough) {
  struct Expirado final : net::HttpClient {
    net::HttpResponse perform(const net::HttpRequest&) override { throw base::TimeoutException(300); }
  } http;
  EXPECT_THROW(zabbix::obterTokenZabbix(http, URL, USER, PASSWORD), base::TimeoutException);
}

TEST(UserLogout, SendsTheLogoutEnvelopeAsJsonWithoutTimeOut) {
  FakeHttp http;
  http.respond(200, LOGOUT_OK);
  EXPECT_TRUE(zabbix::userLogout(http, URL, {"0424bd59"}));
  ASSERT_EQ(http.requests().size(), 1u);
  const auto& pedido = http.requests()[0];
  EXPECT_EQ(pedido.method, "POST");
  EXPECT_EQ(pedido.url, URL);
  EXPECT_EQ(pedido.headers, (net::Headers{{"Content-Type", "application/json"}}));
  EXPECT_EQ(pedido.body, R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": "0424bd59"})");
  // A silent front end must not hold the run's storing until its limit.
  EXPECT_EQ(pedido.connectTimeout, std::chrono::milliseconds(5000));
  EXPECT_EQ(pedido.idleTimeout, std::chrono::milliseconds(30000));
}

TEST(UserLogout, ConfirmsOnlyStatus200WithResultTrue) {
  const struct {
    long status;
    std::string corpo;
    bool confirmado;
  } casos[] = {
      {200, LOGOUT_OK, true},
      {200, R"({"result":true,"error":{"code":1}})", true},
      {200, R"({"result":1})", false},
      {200, R"({"result":"true"})", false},
      {200, R"({"result":null})", false},
      {200, R"({"result":{"ok":true}})", false},
      {200, R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Not authorized."},"id":1})",
       false},
      {201, LOGOUT_OK, false},
      {401, "Unauthorized", false},
      {404, "<html>\r\n<h1>404 Not Found</h1>\r\n</html>", false},
      {500, std::string("\xff\xfe n\xe3o \0 UTF-8", 14), false},
  };
  // The line is printed in debug and normal mode alike: the logout is not told which.
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(caso.status, caso.corpo);
    bool confirmado = !caso.confirmado;
    const std::string saida = outputOf([&] { confirmado = zabbix::userLogout(http, URL, {"tok"}); });
    EXPECT_EQ(confirmado, caso.confirmado) << caso.corpo;
    EXPECT_EQ(saida,
              caso.confirmado ? "" : "Não foi possível fazer logout em " + std::string(URL) + ": " + caso.corpo + "\n")
        << caso.corpo;
  }
}

TEST(UserLogout, PassesOnFailuresOfTheExchangeAndOfTheAnswersShape) {
  FakeHttp html;
  html.respond(200, "<html>ok</html>");
  EXPECT_THROW(zabbix::userLogout(html, URL, {"tok"}), net::RequestException);
  for (const char* corpo : {"[true]", "true", R"("result")"}) {
    FakeHttp http;
    http.respond(200, corpo);
    // Not a request failure: the worker must not turn it into a status-0 record.
    EXPECT_THROW(zabbix::userLogout(http, URL, {"tok"}), zabbix::RespostaInesperada) << corpo;
  }
  FakeHttp caiu;
  caiu.fail("Recv failure: Connection reset by peer");
  EXPECT_THROW(zabbix::userLogout(caiu, URL, {"tok"}), net::RequestException);
}

}  // namespace
