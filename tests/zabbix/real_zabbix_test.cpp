// The worker against real Zabbix front ends; each case runs once per front end whose URL is set:
//   COLETOR_ZABBIX_URL,  COLETOR_ZABBIX_VALUE    Zabbix 6.0 (tests/peers/zabbix.sh)
//   COLETOR_ZABBIX7_URL, COLETOR_ZABBIX7_VALUE   Zabbix 7.0 (tests/peers/zabbix7.sh)
// A URL is the API URL (…/api_jsonrpc.php) or the front end's base URL; a value is the one
// seeded into the PPPoE item, or "none" when the item is absent.
//   COLETOR_ZABBIX_USER, COLETOR_ZABBIX_PASSWORD  default Admin / zabbix, on every front end
// Each run spends exactly one wrong-password login per front end: Zabbix blocks an account after five.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <vector>

#include "base/constants.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/worker.hpp"

namespace {

using records::RegistroDescoberta;
using zabbix_support::outputOf;
using zabbix_support::workerFor;

std::string environmentOr(const char* nome, const char* padrao = "") {
  const char* valor = std::getenv(nome);
  return valor != nullptr ? valor : padrao;
}

/// One request and its answer as they should be on the wire, byte for byte. {usuario},
/// {senha}, {token} (the session the front end opened), {itemid} and {itens} stand for
/// what varies from run to run.
struct Exchange {
  const char* corpo;
  const char* contentType;
  bool bearer;  // the token goes in an Authorization header
  const char* resposta;
};

constexpr const char* JSON_RPC = "application/json-rpc";
constexpr const char* JSON = "application/json";
constexpr const char* LOGIN_CLASSICO =
    R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "{usuario}", "password": "{senha}"}, "id": 1, "auth": null})";
constexpr const char* LOGIN_NOVO =
    R"({"jsonrpc": "2.0", "method": "user.login", "params": {"username": "{usuario}", "password": "{senha}"}, "id": 1})";
constexpr const char* ITEM_GET =
    R"({"jsonrpc": "2.0", "method": "item.get", "params": {"output": ["itemid", "name", "lastvalue"], )"
    R"("host": "Zabbix server", "search": {"key_": "grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]"}}, "id": 1})";
constexpr const char* ITEM_GET_AUTH =
    R"({"jsonrpc": "2.0", "method": "item.get", "params": {"output": ["itemid", "name", "lastvalue"], )"
    R"("host": "Zabbix server", "search": {"key_": "grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]"}}, )"
    R"("auth": "{token}", "id": 1})";
constexpr const char* LOGOUT = R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1})";
constexpr const char* LOGOUT_AUTH =
    R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": "{token}"})";

constexpr const char* TOKEN = R"({"jsonrpc":"2.0","result":"{token}","id":1})";
constexpr const char* ITENS = R"({"jsonrpc":"2.0","result":{itens},"id":1})";
constexpr const char* SAIU = R"({"jsonrpc":"2.0","result":true,"id":1})";
constexpr const char* RECUSA_USER =
    R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Invalid parameter \"/\": unexpected parameter \"user\"."},"id":1})";
constexpr const char* SENHA_ERRADA =
    R"({"jsonrpc":"2.0","error":{"code":-32500,"message":"Application error.","data":"Incorrect user name or password or account is temporarily blocked."},"id":1})";

struct RealFrontEnd {
  const char* nome;
  const char* variavelUrl;
  const char* variavelValor;
  std::vector<Exchange> comSenha;     // a run with the right password
  std::vector<Exchange> senhaErrada;  // and with a wrong one
};

const RealFrontEnd FRENTES[] = {
    {"Zabbix60",
     "COLETOR_ZABBIX_URL",
     "COLETOR_ZABBIX_VALUE",
     {{LOGIN_CLASSICO, JSON_RPC, false, TOKEN},
      {ITEM_GET_AUTH, JSON_RPC, false, ITENS},
      {LOGOUT_AUTH, JSON, false, SAIU}},
     {{LOGIN_CLASSICO, JSON_RPC, false, SENHA_ERRADA}}},
    {"Zabbix70",
     "COLETOR_ZABBIX7_URL",
     "COLETOR_ZABBIX7_VALUE",
     {{LOGIN_CLASSICO, JSON_RPC, false, RECUSA_USER},
      {LOGIN_NOVO, JSON_RPC, false, TOKEN},
      {ITEM_GET, JSON_RPC, true, ITENS},
      {LOGOUT, JSON, true, SAIU}},
     {{LOGIN_CLASSICO, JSON_RPC, false, RECUSA_USER}, {LOGIN_NOVO, JSON_RPC, false, SENHA_ERRADA}}},
};

/// The real client, keeping every request and its answer.
class Recorder final : public net::HttpClient {
 public:
  net::HttpResponse perform(const net::HttpRequest& pedido) override {
    pedidos.push_back(pedido);
    respostas.push_back(real_.perform(pedido));
    return respostas.back();
  }
  std::vector<net::HttpRequest> pedidos;
  std::vector<net::HttpResponse> respostas;

 private:
  net::CurlClient real_{""};
};

std::string firstMatch(const std::vector<net::HttpResponse>& respostas, const std::regex& padrao) {
  std::smatch achado;
  for (const auto& resposta : respostas) {
    if (std::regex_search(resposta.body, achado, padrao)) return achado[1];
  }
  return "";
}

std::string fillIn(std::string texto, const std::vector<std::pair<std::string, std::string>>& valores) {
  for (const auto& [marca, valor] : valores) {
    for (auto onde = texto.find(marca); onde != std::string::npos; onde = texto.find(marca, onde + valor.size())) {
      texto.replace(onde, marca.size(), valor);
    }
  }
  return texto;
}

class RealZabbix : public testing::TestWithParam<RealFrontEnd> {
 protected:
  void SetUp() override {
    if (environmentOr(GetParam().variavelUrl).empty()) GTEST_SKIP() << GetParam().variavelUrl << " not set";
  }
  // The worker appends the endpoint itself, so hand it the front end's base.
  records::ClienteDados item() const {
    std::string url = environmentOr(GetParam().variavelUrl);
    const std::string endpoint = "/api_jsonrpc.php";
    if (url.ends_with(endpoint)) url.resize(url.size() - endpoint.size());
    return {url, "Provedor Real", "42", "ACME"};
  }
  std::string valor() const { return environmentOr(GetParam().variavelValor); }
  std::string usuario() const { return environmentOr("COLETOR_ZABBIX_USER", "Admin"); }
  std::string senha() const { return environmentOr("COLETOR_ZABBIX_PASSWORD", "zabbix"); }

  void check(const Recorder& http, const std::vector<Exchange>& esperadas, const std::string& senhaUsada) const {
    ASSERT_EQ(http.pedidos.size(), esperadas.size());
    const std::string token = firstMatch(http.respostas, std::regex(R"re("result":"([0-9a-f]{32})")re"));
    const std::string itens =
        valor() == "none" ? "[]"
                          : R"j([{"itemid":"{itemid}","name":"PPPoE total (test)","lastvalue":")j" + valor() + "\"}]";
    const std::vector<std::pair<std::string, std::string>> valores{
        {"{itens}", itens},
        {"{itemid}", firstMatch(http.respostas, std::regex(R"re("itemid":"([0-9]+)")re"))},
        {"{token}", token},
        {"{usuario}", usuario()},
        {"{senha}", senhaUsada}};
    for (std::size_t i = 0; i < esperadas.size(); ++i) {
      net::Headers headers{{"Content-Type", esperadas[i].contentType}};
      if (esperadas[i].bearer) headers.emplace_back("Authorization", "Bearer " + token);
      EXPECT_EQ(http.pedidos[i].body, fillIn(esperadas[i].corpo, valores)) << i;
      EXPECT_EQ(http.pedidos[i].headers, headers) << i;
      EXPECT_EQ(http.respostas[i].status, 200) << i;
      EXPECT_EQ(http.respostas[i].body, fillIn(esperadas[i].resposta, valores)) << i;
    }
  }
};

TEST_P(RealZabbix, ReadsTheSeededCountAndLogsOutCleanly) {
  ASSERT_FALSE(valor().empty()) << GetParam().variavelValor << " not set";
  const std::optional<std::int64_t> esperado =
      valor() == "none" ? std::nullopt : std::optional<std::int64_t>(zabbix::lerNumeral(valor()));
  for (bool debug : {false, true}) {
    const auto processarCliente = workerFor(debug, usuario(), senha());
    Recorder http;
    RegistroDescoberta registro;
    // No line at all: a refused or failed logout would have printed one.
    EXPECT_EQ(outputOf([&] { registro = processarCliente(http, item()); }), "");
    EXPECT_EQ(registro, (RegistroDescoberta{"Provedor Real", 1, 42, "ACME", esperado}));
    check(http, GetParam().comSenha, senha());
  }
}

TEST_P(RealZabbix, AWrongPasswordGivesTheNoTokenRecordAfterOneFailedLogin) {
  const std::string errada = "senha-errada-" + senha();
  const auto processarCliente = workerFor(true, usuario(), errada);
  Recorder http;
  RegistroDescoberta registro;
  const std::string saida = outputOf([&] { registro = processarCliente(http, item()); });
  EXPECT_EQ(saida, std::string(base::YELLOW) + "ACME - 42 - Provedor Real: Cliente com problema na conexão." +
                       std::string(base::RESET) + "\n");
  EXPECT_EQ(registro, (RegistroDescoberta{"Provedor Real", 0, 42, "ACME", 0}));
  check(http, GetParam().senhaErrada, errada);
}

INSTANTIATE_TEST_SUITE_P(Frentes, RealZabbix, testing::ValuesIn(FRENTES),
                         [](const testing::TestParamInfo<RealFrontEnd>& info) { return std::string(info.param.nome); });

}  // namespace
