#include "zabbix/pppoe.hpp"

#include <gtest/gtest.h>

#include "tests/support/fake_http.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/numeral.hpp"

namespace {

using testing_support::FakeHttp;
using namespace zabbix_support;
using Count = std::optional<std::int64_t>;

Count countFrom(const std::string& body) {
  FakeHttp http;
  http.respond(200, body);
  return zabbix::obterValorSessaoPPPoE(http, URL, {"tok"}, true);
}

TEST(ObterValorSessaoPPPoE, SendsTheItemQueryByteForByte) {
  FakeHttp http;
  http.respond(200, items(R"("57")"));
  zabbix::obterValorSessaoPPPoE(http, URL, {"0424bd59"}, false);
  ASSERT_EQ(http.requests().size(), 1u);
  const auto& pedido = http.requests()[0];
  EXPECT_EQ(pedido.method, "POST");
  EXPECT_EQ(pedido.url, URL);
  EXPECT_EQ(pedido.headers, (net::Headers{{"Content-Type", "application/json-rpc"}}));
  EXPECT_EQ(pedido.body,
            R"({"jsonrpc": "2.0", "method": "item.get", "params": {"output": ["itemid", "name", "lastvalue"], )"
            R"("host": "Zabbix server", "search": {"key_": "grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]"}}, )"
            R"("auth": "0424bd59", "id": 1})");
  EXPECT_EQ(pedido.connectTimeout, std::chrono::milliseconds(5000));
  EXPECT_EQ(pedido.idleTimeout, std::chrono::milliseconds(30000));
}

TEST(ObterValorSessaoPPPoE, ConvertsTheFirstItemsLastValue) {
  const std::pair<const char*, Count> casos[] = {
      {R"("57")", 57},
      {R"("0")", 0},
      {R"(" 7 ")", 7},
      {R"("\t+12\r\n")", 12},
      {R"("-3")", -3},
      {R"("007")", 7},
      {R"("9223372036854775807")", INT64_MAX},
      {R"("-9223372036854775808")", INT64_MIN},
      {"57", 57},
      {"0", std::nullopt},  // a numeric 0 is "false", unlike the text "0"
      {"12.9", 12},
      {"-12.9", -12},
      {"0.0", std::nullopt},
      {"0.4", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-9.2233720368547748e18", -9223372036854774784},
      {R"("")", std::nullopt},
      {"null", std::nullopt},
      {"false", std::nullopt},
      {"[]", std::nullopt},
      {"{}", std::nullopt},
  };
  for (const auto& [lastvalue, esperado] : casos) EXPECT_EQ(countFrom(items(lastvalue)), esperado) << lastvalue;
  EXPECT_EQ(countFrom(R"({"result":[{"itemid":"1","lastvalue":"5"},{"itemid":"2","lastvalue":"9"}]})"), 5);
  EXPECT_EQ(countFrom(R"({"result":[{"itemid":"1"}]})"), std::nullopt);
}

TEST(ObterValorSessaoPPPoE, FailsOnLastValuesThatAreNoInteger) {
  const char* recusados[] = {R"("12.5")", R"("doze")", R"("0x1F")", R"("1e3")", R"("7a")", R"("+")", R"("-")",
                             R"("+-1")", R"("1 2")", R"("   ")", R"("9223372036854775808")",
                             R"("-9223372036854775809")", R"("١٢")", "9223372036854775808", "18446744073709551615",
                             "9.3e18", "-9.3e18", "true", "[1]", R"({"v":1})", R"("\u00a07")",
                             // numerals past INT64_MIN reach us as the double -2^63
                             "-9223372036854775809", "-9223372036854776832", "-9223372036854775808.0"};
  for (const char* lastvalue : recusados)
    EXPECT_THROW(countFrom(items(lastvalue)), zabbix::NumeralInvalido) << lastvalue;
}

TEST(ObterValorSessaoPPPoE, ReadsTheResultShapes) {
  const std::pair<const char*, Count> vazios[] = {
      {R"({"jsonrpc":"2.0","result":[],"id":1})", std::nullopt},
      {R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Session terminated, re-login, please."},"id":1})",
       std::nullopt},
      {R"({"result":null})", std::nullopt},
      {R"({"result":false})", std::nullopt},
      {R"({"result":0})", std::nullopt},
      {R"({"result":""})", std::nullopt},
      {R"({"result":{}})", std::nullopt},
      {"{}", std::nullopt},
  };
  for (const auto& [corpo, esperado] : vazios) {
    Count contagem = 1;
    EXPECT_EQ(outputOf([&] { contagem = countFrom(corpo); }), "") << corpo;
    EXPECT_EQ(contagem, esperado) << corpo;
  }
  const char* estranhos[] = {"[]",
                             "null",
                             R"("result")",
                             R"({"result":true})",
                             R"({"result":"x"})",
                             R"({"result":{"a":1}})",
                             R"({"result":[1]})",
                             R"({"result":[["57"]]})",
                             R"({"result":[null,{"lastvalue":"5"}]})"};
  for (const char* corpo : estranhos) EXPECT_THROW(countFrom(corpo), zabbix::RespostaInesperada) << corpo;
}

TEST(ObterValorSessaoPPPoE, TurnsRequestFailuresIntoNoValueWithADebugLine) {
  const struct {
    bool debug;
    testing_support::Script resposta;
    const char* linha;
  } casos[] = {
      {true, testing_support::Failure{"Could not resolve host: zbx.cliente.example"},
       "Erro na requisição: Could not resolve host: zbx.cliente.example\n"},
      {false, testing_support::Failure{"Could not resolve host: zbx.cliente.example"}, ""},
      {true, testing_support::response(200, "<html><body>Bad Gateway</body></html>"), "Erro na requisição: "},
      {false, testing_support::response(502, "<html><body>Bad Gateway</body></html>"), ""},
  };
  for (const auto& caso : casos) {
    FakeHttp http;
    http.respond(caso.resposta);
    Count contagem = 1;
    const std::string saida =
        outputOf([&] { contagem = zabbix::obterValorSessaoPPPoE(http, URL, {"tok"}, caso.debug); });
    EXPECT_EQ(contagem, std::nullopt);
    // The parser's own wording follows the prefix; the line is still one whole line.
    EXPECT_TRUE(saida.starts_with(caso.linha)) << saida;
    if (*caso.linha != '\0') {
      EXPECT_EQ(saida.find('\n'), saida.size() - 1) << saida;
    }
  }
}

}  // namespace
