// Numbers past what a double holds: the parser reported them as out_of_range, which
// escaped as a failure of no known kind. One such number in a Zabbix answer made the
// whole run fail instead of giving that customer no value (found by fuzzing).
#include <gtest/gtest.h>

#include <string>

#include "discovery/selection.hpp"
#include "net/json.hpp"
#include "tests/support/fake_http.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/pppoe.hpp"
#include "zabbix/session.hpp"

namespace {

using testing_support::FakeHttp;

TEST(JsonNumberOverflow, IsABodyThatIsNotJsonWithTheParsersOwnWords) {
  for (const char* corpo : {"1e400", "[-1.5e4300]", R"({"a": 1e309})", "[1, 2, 91e3082036]"}) {
    EXPECT_THROW(net::parseJson(corpo), net::JsonError) << corpo;
    EXPECT_THROW(net::parseJsonElements(corpo, [](net::Json&) { return true; }), net::JsonError) << corpo;
  }
  try {
    net::parseJson("[1e400]");
    FAIL() << "parsed";
  } catch (const net::JsonError& erro) {
    EXPECT_STREQ(erro.what(), "invalid JSON: [json.exception.out_of_range.406] number overflow parsing '1e400'");
  }
  EXPECT_EQ(net::parseJson("[1.7976931348623157e308, 4.9e-324, 1e-400]").size(), 3u);
}

TEST(JsonNumberOverflow, InAnItemGetAnswerGivesNoValueAndTheDebugLine) {
  FakeHttp http;
  http.respond(200, R"({"jsonrpc":"2.0","result":[{"itemid":"1","lastvalue":"57","delay":1e400}],"id":1})");
  std::optional<std::int64_t> contagem = 1;
  const std::string saida = zabbix_support::outputOf(
      [&] { contagem = zabbix::obterValorSessaoPPPoE(http, zabbix_support::URL, {"tok"}, true); });
  EXPECT_EQ(contagem, std::nullopt);
  EXPECT_EQ(saida,
            "Erro na requisição: invalid JSON: [json.exception.out_of_range.406] number overflow parsing '1e400'\n");
}

TEST(JsonNumberOverflow, InALogoutAnswerIsARequestFailure) {
  FakeHttp http;
  http.respond(200, R"({"jsonrpc":"2.0","result":true,"id":1e999})");
  EXPECT_THROW(zabbix::userLogout(http, zabbix_support::URL, {"tok"}), net::RequestException);
}

TEST(JsonNumberOverflow, InTheRegistryListFailsAsABodyThatIsNotJson) {
  EXPECT_THROW(discovery::selecionarDoCorpo(R"([{"empresa": "A", "numero": 1e400, "parceiro": "P"}])"), net::JsonError);
}

}  // namespace
