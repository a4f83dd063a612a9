#include "zabbix/worker.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

#include "base/constants.hpp"
#include "tests/support/fake_http.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/jsonrpc.hpp"
#include "zabbix/numeral.hpp"

namespace {

using net::Json;
using records::ClienteDados;
using records::RegistroDescoberta;
using testing_support::Failure;
using testing_support::FakeHttp;
using testing_support::response;
using testing_support::Script;
using namespace zabbix_support;

const std::string Y = std::string(base::YELLOW);
const std::string R = std::string(base::RED);
const std::string Z = std::string(base::RESET);

const ClienteDados ALFA{"zbx.alfa.example", "Provedor Alfa", "42", "ACME"};
const std::string URL_ALFA = "https://zbx.alfa.example/api_jsonrpc.php";

TEST(MontarZabbixUrl, AppendsTheEndpointAndAddsHttpsOnlyWithoutTheHttpPrefix) {
  const std::pair<const char*, const char*> casos[] = {
      {"https://zbx.alfa.example", "https://zbx.alfa.example/api_jsonrpc.php"},
      {"http://10.0.0.7:8080/zabbix", "http://10.0.0.7:8080/zabbix/api_jsonrpc.php"},
      {"zbx.alfa.example", "https://zbx.alfa.example/api_jsonrpc.php"},
      {"zbx.alfa.example/", "https://zbx.alfa.example//api_jsonrpc.php"},
      {"HTTP://zbx.alfa.example", "https://HTTP://zbx.alfa.example/api_jsonrpc.php"},
      {"httpbin.example", "httpbin.example/api_jsonrpc.php"},
      {" https://x", "https:// https://x/api_jsonrpc.php"},
      {"htt", "https://htt/api_jsonrpc.php"},
      {"", "https:///api_jsonrpc.php"},
  };
  for (const auto& [link, url] : casos) EXPECT_EQ(zabbix::montarZabbixUrl(link), url) << link;
}

struct Path {
  const char* nome;
  std::vector<Script> respostas;
  RegistroDescoberta registro;
  std::string saidaDebug;
  std::string saidaNormal;
};

std::vector<Path> paths() {
  const std::string logoutFalhou = "Não foi possível fazer logout em " + URL_ALFA + ": <h1>500</h1>\n";
  return {
      {"login refused",
       {response(200, LOGIN_REFUSED)},
       {"Provedor Alfa", 0, 42, "ACME", 0},
       Y + "ACME - 42 - Provedor Alfa: Cliente com problema na conexão." + Z + "\n",
       ""},
      {"login unreachable",
       {Failure{"Failed to connect"}},
       {"Provedor Alfa", 0, 42, "ACME", 0},
       Y + "ACME - 42 - Provedor Alfa: Cliente com problema na conexão." + Z + "\n",
       ""},
      {"count read",
       {response(200, loginOk("t")), response(200, items(R"("57")")), response(200, LOGOUT_OK)},
       {"Provedor Alfa", 1, 42, "ACME", 57},
       "",
       ""},
      {"count zero",
       {response(200, loginOk("t")), response(200, items(R"("0")")), response(200, LOGOUT_OK)},
       {"Provedor Alfa", 1, 42, "ACME", 0},
       "",
       ""},
      {"item absent",
       {response(200, loginOk("t")), response(200, R"({"result":[]})"), response(200, LOGOUT_OK)},
       {"Provedor Alfa", 1, 42, "ACME", std::nullopt},
       "",
       ""},
      {"empty token",
       {response(200, R"({"result":""})"), response(200, items("3")), response(200, LOGOUT_OK)},
       {"Provedor Alfa", 1, 42, "ACME", 3},
       "",
       ""},
      {"count request failed",
       {response(200, loginOk("t")), Failure{"Recv failure"}, response(200, LOGOUT_OK)},
       {"Provedor Alfa", 1, 42, "ACME", std::nullopt},
       "Erro na requisição: Recv failure\n",
       ""},
      {"logout unconfirmed",
       {response(200, loginOk("t")), response(200, items(R"("57")")), response(500, "<h1>500</h1>")},
       {"Provedor Alfa", 1, 42, "ACME", 57},
       logoutFalhou,
       logoutFalhou},
      {"logout request failed",
       {response(200, loginOk("t")), response(200, items(R"("57")")), Failure{"Connection reset by peer"}},
       {"Provedor Alfa", 0, 42, "ACME", 0},
       R + "Erro ao conectar no Zabbix: Connection reset by peer" + Z + "\n",
       ""},
      {"logout not JSON",
       {response(200, loginOk("t")), response(200, items(R"("57")")), response(200, "<html>")},
       {"Provedor Alfa", 0, 42, "ACME", 0},
       R + "Erro ao conectar no Zabbix: ",
       ""},
  };
}

TEST(ProcessarCliente, GivesTheRecordAndLinesOfEachPath) {
  for (bool debug : {true, false}) {
    const auto processarCliente = workerFor(debug);
    for (const auto& caminho : paths()) {
      FakeHttp http;
      for (const auto& r : caminho.respostas) http.respond(r);
      RegistroDescoberta registro;
      const std::string saida = outputOf([&] { registro = processarCliente(http, ALFA); });
      EXPECT_EQ(registro, caminho.registro) << caminho.nome;
      EXPECT_TRUE(http.scriptDone()) << caminho.nome;
      for (const auto& pedido : http.requests()) EXPECT_EQ(pedido.url, URL_ALFA) << caminho.nome;
      const std::string& esperada = debug ? caminho.saidaDebug : caminho.saidaNormal;
      if (std::string_view(caminho.nome) == "logout not JSON" && debug) {
        // The decoder's own words follow; what matters is colour, prefix and one whole line.
        EXPECT_TRUE(saida.starts_with(esperada) && saida.ends_with(Z + "\n")) << saida;
      } else {
        EXPECT_EQ(saida, esperada) << caminho.nome << (debug ? " (debug)" : " (normal)");
      }
    }
  }
}

TEST(ProcessarCliente, LogsInWithTheGivenCredentialsAndUsesTheTokenThrough) {
  const auto processarCliente = workerFor(false, "zbx-api", "pässwörd");
  FakeHttp http;
  http.respond(200, loginOk("abc123")).respond(200, items("8")).respond(200, LOGOUT_OK);
  processarCliente(http, {"http://10.1.1.1/zabbix", "Beta", "7", "P"});
  ASSERT_EQ(http.requests().size(), 3u);
  EXPECT_EQ(
      http.requests()[0].body,
      R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "zbx-api", "password": "p\u00e4ssw\u00f6rd"}, "id": 1, "auth": null})");
  EXPECT_NE(http.requests()[1].body->find(R"("auth": "abc123", "id": 1})"), std::string::npos);
  EXPECT_EQ(http.requests()[2].body,
            R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": "abc123"})");
  EXPECT_EQ(http.requests()[0].url, "http://10.1.1.1/zabbix/api_jsonrpc.php");
}

TEST(ProcessarCliente, ReadsNumeroAsAnIntegerNumeralAfterTheRequests) {
  const auto processarCliente = workerFor(true);
  const std::pair<const char*, std::int64_t> aceitos[] = {{" 7 ", 7}, {"+7", 7}, {"-7", -7}, {"0042", 42}};
  for (const auto& [numero, valor] : aceitos) {
    FakeHttp http;
    http.respond(200, LOGIN_REFUSED);
    RegistroDescoberta registro;
    const std::string saida = outputOf([&] { registro = processarCliente(http, {"h", "N", numero, "P"}); });
    EXPECT_EQ(registro.numero, valor) << numero;
    EXPECT_EQ(saida, Y + "P - " + numero + " - N: Cliente com problema na conexão." + Z + "\n");
  }
  for (const char* numero : {"7a", "", "4.2", "99999999999999999999"}) {
    for (bool loginOk_ : {false, true}) {
      FakeHttp http;
      if (loginOk_) {
        http.respond(200, loginOk("t")).respond(200, items("1")).respond(200, LOGOUT_OK);
      } else {
        http.respond(200, LOGIN_REFUSED);
      }
      EXPECT_THROW(outputOf([&] {
                     processarCliente(http, {"h", "N", numero, "P"});
                   }),
                   zabbix::NumeralInvalido)
          << numero;
      EXPECT_TRUE(http.scriptDone()) << "the requests come before the number is read: " << numero;
    }
  }
}

TEST(ProcessarCliente, FailsWithoutARequestOnWorkItemsThatAreNotText) {
  const auto processarCliente = workerFor(true);
  const ClienteDados invalidos[] = {{nullptr, "N", "1", "P"},
                                    {"h", 5, "1", "P"},
                                    {"h", "N", 42, "P"},
                                    {"h", "N", "1", Json::array({"P"})},
                                    {{}, {}, {}, {}}};
  for (const auto& item : invalidos) {
    FakeHttp http;
    EXPECT_THROW(outputOf([&] { processarCliente(http, item); }), zabbix::ItemInvalido);
    EXPECT_TRUE(http.requests().empty());
  }
}

TEST(ProcessarCliente, LetsUnreadableAnswersEscape) {
  const auto processarCliente = workerFor(true);
  const std::pair<const char*, bool> casos[] = {
      {R"({"result":"x"})", true}, {"[]", true}, {R"({"result":[{"lastvalue":"12.5"}]})", false}};
  for (const auto& [item, respostaInesperada] : casos) {
    FakeHttp http;
    http.respond(200, loginOk("t")).respond(200, item);
    const auto processar = [&] { outputOf([&] { processarCliente(http, ALFA); }); };
    if (respostaInesperada) {
      EXPECT_THROW(processar(), zabbix::RespostaInesperada) << item;
    } else {
      EXPECT_THROW(processar(), zabbix::NumeralInvalido) << item;
    }
    EXPECT_EQ(http.requests().size(), 2u) << "no logout after a failure that escapes";
  }
  FakeHttp http;
  http.respond(200, loginOk("t")).respond(200, items("1")).respond(200, "[true]");
  EXPECT_THROW(outputOf([&] { processarCliente(http, ALFA); }), zabbix::RespostaInesperada);
}

TEST(ProcessarCliente, ConcurrentWorkersWriteWholeLines) {
  const auto processarCliente = workerFor(true);
  constexpr int TRABALHADORES = 10, CLIENTES = 30;
  const std::string saida = outputOf([&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < TRABALHADORES; ++t) {
      threads.emplace_back([t, &processarCliente] {
        for (int c = 0; c < CLIENTES; ++c) {
          FakeHttp http;
          http.respond(200, LOGIN_REFUSED);
          const std::string numero = std::to_string(t * 1000 + c);
          processarCliente(http, {"h", std::string(200, 'n'), numero, "P"});
        }
      });
    }
    for (auto& thread : threads) thread.join();
  });
  std::istringstream linhas(saida);
  std::set<std::string> vistas;
  for (std::string linha; std::getline(linhas, linha);) {
    ASSERT_TRUE(linha.starts_with(Y + "P - ") && linha.ends_with(": Cliente com problema na conexão." + Z)) << linha;
    vistas.insert(linha);
  }
  EXPECT_EQ(vistas.size(), static_cast<std::size_t>(TRABALHADORES * CLIENTES));
}

}  // namespace
