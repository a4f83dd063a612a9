// The worker against a real Zabbix front end. Runs only when COLETOR_ZABBIX_URL is set:
//   COLETOR_ZABBIX_URL    the API URL (…/api_jsonrpc.php) or the front end's base URL
//   COLETOR_ZABBIX_VALUE  the value seeded into the PPPoE item, or "none" when it is absent
//   COLETOR_ZABBIX_USER, COLETOR_ZABBIX_PASSWORD  default Admin / zabbix
// Each run spends exactly one wrong-password login: the front end blocks an account after five.
#include <gtest/gtest.h>

#include <cstdlib>

#include "run/constants.hpp"
#include "tests/zabbix/zabbix_support.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/worker.hpp"

namespace {

using discovery::RegistroDescoberta;
using zabbix_support::configurar;
using zabbix_support::saidaDe;

std::string ambiente(const char* nome, const char* padrao = "") {
  const char* valor = std::getenv(nome);
  return valor != nullptr ? valor : padrao;
}

// The worker appends the endpoint itself, so hand it the front end's base.
std::string linkDoFrontEnd() {
  std::string url = ambiente("COLETOR_ZABBIX_URL");
  const std::string endpoint = "/api_jsonrpc.php";
  if (url.ends_with(endpoint)) url.resize(url.size() - endpoint.size());
  return url;
}

/// Counts what goes over the wire, for the one-login checks.
class Contador final : public net::HttpClient {
 public:
  net::HttpResponse perform(const net::HttpRequest& pedido) override {
    ++pedidos;
    return real_.perform(pedido);
  }
  int pedidos = 0;

 private:
  net::CurlClient real_;
};

class RealZabbix : public testing::Test {
 protected:
  void SetUp() override {
    if (ambiente("COLETOR_ZABBIX_URL").empty()) GTEST_SKIP() << "COLETOR_ZABBIX_URL not set";
  }
  discovery::ClienteDados item() const { return {linkDoFrontEnd(), "Provedor Real", "42", "ACME"}; }
  std::string usuario() const { return ambiente("COLETOR_ZABBIX_USER", "Admin"); }
  std::string senha() const { return ambiente("COLETOR_ZABBIX_PASSWORD", "zabbix"); }
};

TEST_F(RealZabbix, ReadsTheSeededCountAndLogsOutCleanly) {
  const std::string valor = ambiente("COLETOR_ZABBIX_VALUE");
  ASSERT_FALSE(valor.empty()) << "COLETOR_ZABBIX_VALUE not set";
  const std::optional<std::int64_t> esperado =
      valor == "none" ? std::nullopt : std::optional<std::int64_t>(zabbix::lerNumeral(valor));
  for (bool debug : {false, true}) {
    configurar(debug, usuario(), senha());
    Contador http;
    RegistroDescoberta registro;
    // No line at all: a refused or failed logout would have printed one.
    EXPECT_EQ(saidaDe([&] { registro = zabbix::processarCliente(http, item()); }), "");
    EXPECT_EQ(registro, (RegistroDescoberta{"Provedor Real", 1, 42, "ACME", esperado}));
    EXPECT_EQ(http.pedidos, 3);
  }
}

TEST_F(RealZabbix, AWrongPasswordGivesTheNoTokenRecordAfterOneLogin) {
  configurar(true, usuario(), "senha-errada-" + senha());
  Contador http;
  RegistroDescoberta registro;
  const std::string saida = saidaDe([&] { registro = zabbix::processarCliente(http, item()); });
  EXPECT_EQ(saida, std::string(run::YELLOW) + "ACME - 42 - Provedor Real: Cliente com problema na conexão." +
                       std::string(run::RESET) + "\n");
  EXPECT_EQ(registro, (RegistroDescoberta{"Provedor Real", 0, 42, "ACME", 0}));
  EXPECT_EQ(http.pedidos, 1);
}

}  // namespace
