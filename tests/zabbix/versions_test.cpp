// Front ends from 5.0 to 7.4: each fake answers the way its version does.
#include <gtest/gtest.h>

#include "tests/support/fake_http.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/session.hpp"
#include "zabbix/worker.hpp"

namespace {

using net::Json;
using records::RegistroDescoberta;
using testing_support::FakeHttp;
using namespace zabbix_support;

/// A Zabbix API of one version: 6.4 dropped "user" for "username", 7.2 dropped the "auth"
/// member for the Bearer header (taken from 6.4 on; 6.0 ignores it).
class FakeFrontEnd final : public net::HttpClient {
 public:
  FakeFrontEnd(int versao, std::int64_t contagem) : versao_(versao), contagem_(contagem) {}

  net::HttpResponse perform(const net::HttpRequest& pedido) override {
    pedidos.push_back(pedido);
    if (pedido.headers.empty() ||
        (pedido.headers[0].second != "application/json-rpc" && pedido.headers[0].second != "application/json")) {
      return {412, "", {}};
    }
    return {200, net::compactJson(responder(Json::parse(*pedido.body), pedido.headers)), {}};
  }

  std::vector<net::HttpRequest> pedidos;
  int loginsFalhos = 0;

 private:
  static Json erro(int codigo, const char* mensagem, const std::string& dados) {
    return {{"jsonrpc", "2.0"}, {"error", {{"code", codigo}, {"message", mensagem}, {"data", dados}}}, {"id", 1}};
  }
  static Json resultado(Json valor) { return {{"jsonrpc", "2.0"}, {"result", std::move(valor)}, {"id", 1}}; }
  static Json inesperado(const char* parametro) {
    return erro(-32602, "Invalid params.",
                std::string(R"(Invalid parameter "/": unexpected parameter ")") + parametro + "\".");
  }

  Json responder(const Json& corpo, const net::Headers& headers) {
    if (versao_ >= 72 && corpo.contains("auth")) {
      return erro(-32600, "Invalid request.", R"(Invalid parameter "/": unexpected parameter "auth".)");
    }
    const std::string metodo = corpo["method"];
    if (metodo == "user.login") return login(corpo["params"]);
    if (!autorizado(corpo, headers)) return erro(-32602, "Invalid params.", "Not authorized.");
    if (metodo == "item.get")
      return resultado(Json::array({{{"itemid", "1"}, {"name", "PPPoE"}, {"lastvalue", std::to_string(contagem_)}}}));
    return resultado(true);
  }

  Json login(const Json& params) {
    if (params.contains("user") && versao_ >= 64) return inesperado("user");
    if (params.contains("username") && versao_ < 54) return inesperado("username");
    const Json usuario = params.contains("user") ? params["user"] : params["username"];
    if (usuario != USER || params["password"] != PASSWORD) {
      ++loginsFalhos;
      return erro(-32500, "Application error.", "Login name or password is incorrect.");
    }
    return resultado(token());
  }

  bool autorizado(const Json& corpo, const net::Headers& headers) const {
    if (corpo.contains("auth")) return corpo["auth"] == token();
    for (const auto& [nome, valor] : headers) {
      if (nome == "Authorization" && versao_ >= 64) return valor == "Bearer " + token();
    }
    return false;
  }

  std::string token() const { return "tok" + std::to_string(versao_); }

  int versao_;
  std::int64_t contagem_;
};

const int VERSOES[] = {50, 60, 64, 70, 72, 74};

std::string versionName(int versao) { return std::to_string(versao / 10) + "." + std::to_string(versao % 10); }

TEST(VersoesZabbix, EveryVersionYieldsAStatusOneRecordWithItsCount) {
  const auto processarCliente = workerFor(false);
  for (int versao : VERSOES) {
    FakeFrontEnd frontEnd(versao, 1000 + versao);
    RegistroDescoberta registro;
    EXPECT_EQ(outputOf([&] {
                registro = processarCliente(frontEnd, {"zbx.example", "C", "1", "P"});
              }),
              "")
        << versionName(versao);
    EXPECT_EQ(registro, (RegistroDescoberta{"C", 1, 1, "P", 1000 + versao})) << versionName(versao);
    EXPECT_EQ(frontEnd.pedidos.size(), versao < 64 ? 3u : 4u) << versionName(versao);
  }
}

TEST(VersoesZabbix, OlderFrontEndsGetExactlyTheClassicRequests) {
  const auto processarCliente = workerFor(false);
  for (int versao : {50, 60}) {
    FakeFrontEnd frontEnd(versao, 5);
    processarCliente(frontEnd, {"zbx.example", "C", "1", "P"});
    // The same three requests a scripted fake sees, byte for byte.
    FakeHttp classico;
    classico.respond(200, loginOk("tok" + std::to_string(versao))).respond(200, items("5")).respond(200, LOGOUT_OK);
    processarCliente(classico, {"zbx.example", "C", "1", "P"});
    ASSERT_EQ(frontEnd.pedidos.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& visto = frontEnd.pedidos[i];
      const auto& esperado = classico.requests()[i];
      EXPECT_EQ(visto.body, esperado.body) << versionName(versao);
      EXPECT_EQ(visto.headers, esperado.headers) << versionName(versao);
      EXPECT_EQ(visto.idleTimeout, esperado.idleTimeout) << versionName(versao);
      EXPECT_EQ(visto.connectTimeout, esperado.connectTimeout) << versionName(versao);
    }
    EXPECT_EQ(frontEnd.pedidos[2].body,
              R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": "tok)" +
                  std::to_string(versao) + "\"}");
  }
}

TEST(VersoesZabbix, TheNewerFormNeverCarriesAuthAndSendsTheBearerHeader) {
  const auto processarCliente = workerFor(false);
  for (int versao : {64, 70, 72, 74}) {
    FakeFrontEnd frontEnd(versao, 9);
    processarCliente(frontEnd, {"zbx.example", "C", "1", "P"});
    ASSERT_EQ(frontEnd.pedidos.size(), 4u);
    const std::string bearer = "Bearer tok" + std::to_string(versao);
    const auto& login = frontEnd.pedidos[1];
    EXPECT_EQ(
        login.body,
        R"({"jsonrpc": "2.0", "method": "user.login", "params": {"username": "coletor", "password": "s3nh@"}, "id": 1})");
    EXPECT_EQ(login.headers, (net::Headers{{"Content-Type", "application/json-rpc"}}));
    EXPECT_EQ(login.idleTimeout, std::chrono::milliseconds(5000));
    const auto& itemGet = frontEnd.pedidos[2];
    EXPECT_EQ(
        itemGet.body,
        R"({"jsonrpc": "2.0", "method": "item.get", "params": {"output": ["itemid", "name", "lastvalue"], )"
        R"("host": "Zabbix server", "search": {"key_": "grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]"}}, "id": 1})");
    EXPECT_EQ(itemGet.headers, (net::Headers{{"Content-Type", "application/json-rpc"}, {"Authorization", bearer}}));
    EXPECT_EQ(itemGet.idleTimeout, std::chrono::milliseconds(30000));
    const auto& logout = frontEnd.pedidos[3];
    EXPECT_EQ(logout.body, R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1})");
    EXPECT_EQ(logout.headers, (net::Headers{{"Content-Type", "application/json"}, {"Authorization", bearer}}));
    EXPECT_EQ(logout.idleTimeout, std::chrono::milliseconds(30000));
    for (std::size_t i = 1; i < 4; ++i) EXPECT_FALSE(Json::parse(*frontEnd.pedidos[i].body).contains("auth")) << i;
  }
}

TEST(VersoesZabbix, AWrongPasswordCostsOneFailedLoginOnEveryVersion) {
  const auto processarCliente = workerFor(true, USER, "errada");
  for (int versao : VERSOES) {
    FakeFrontEnd frontEnd(versao, 9);
    RegistroDescoberta registro;
    outputOf([&] { registro = processarCliente(frontEnd, {"zbx.example", "C", "1", "P"}); });
    EXPECT_EQ(registro, (RegistroDescoberta{"C", 0, 1, "P", 0})) << versionName(versao);
    EXPECT_EQ(frontEnd.loginsFalhos, 1) << versionName(versao);
    EXPECT_EQ(frontEnd.pedidos.size(), versao < 64 ? 1u : 2u) << versionName(versao);
  }
}

TEST(VersoesZabbix, OnlyTheTwoDocumentedRefusalsEarnASecondLogin) {
  const std::string formaNova = R"({"jsonrpc":"2.0","result":"novo","id":1})";
  const struct {
    const char* primeira;
    std::size_t pedidos;
  } casos[] = {
      {R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Invalid parameter \"/\": unexpected parameter \"user\"."},"id":1})",
       2},
      {R"({"jsonrpc":"2.0","error":{"code":-32600,"message":"Invalid request.","data":"Invalid parameter \"/\": unexpected parameter \"auth\"."},"id":1})",
       2},
      {R"({"error":{"data":"Invalid parameter \"/\": unexpected parameter \"username\"."}})", 1},
      {R"({"error":{"data":"Invalid parameter \"/\": unexpected parameter \"user\""}})", 1},
      {R"({"error":{"message":"Invalid parameter \"/\": unexpected parameter \"user\"."}})", 1},
      {R"({"data":"Invalid parameter \"/\": unexpected parameter \"user\"."})", 1},
      {LOGIN_REFUSED, 1},
      {R"({"jsonrpc":"2.0","error":{"code":-32500,"message":"Application error.","data":"Incorrect user name or password or account is temporarily blocked."},"id":1})",
       1},
      {R"({"result":null,"error":{"data":"Invalid parameter \"/\": unexpected parameter \"user\"."}})", 1},
      {"<html>unexpected parameter \"user\"</html>", 1},
  };
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(200, caso.primeira).respond(200, formaNova);
    const zabbix::TokenZabbix token = zabbix::obterTokenZabbix(http, URL, USER, PASSWORD);
    EXPECT_EQ(http.requests().size(), caso.pedidos) << caso.primeira;
    EXPECT_EQ(token.temToken(), caso.pedidos == 2) << caso.primeira;
    EXPECT_EQ(token.bearer, caso.pedidos == 2) << caso.primeira;
  }
}

TEST(VersoesZabbix, TheSecondLoginIsTheLastWhateverItAnswers) {
  const char* recusa = R"({"error":{"data":"Invalid parameter \"/\": unexpected parameter \"auth\"."}})";
  for (const std::string& segunda :
       {std::string(recusa), std::string(LOGIN_REFUSED), std::string("<html>"), std::string(R"({"result":null})")}) {
    FakeHttp http;
    http.respond(200, recusa).respond(200, segunda).respond(200, loginOk("nunca"));
    EXPECT_FALSE(zabbix::obterTokenZabbix(http, URL, USER, PASSWORD).temToken()) << segunda;
    EXPECT_EQ(http.requests().size(), 2u) << segunda;
  }
  FakeHttp silencioso;
  silencioso.respond(200, recusa).fail("Operation timed out after 5000 milliseconds with 0 bytes received");
  EXPECT_FALSE(zabbix::obterTokenZabbix(silencioso, URL, USER, PASSWORD).temToken());
}

}  // namespace
