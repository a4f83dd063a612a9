// The Zabbix answer readers, through the client worker: arbitrary bodies and statuses
// (or transport failures) for each of its requests. The login never fails; the worker
// fails only with the documented kinds; its record keeps the promised shape.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "net/json.hpp"
#include "tests/support/fake_http.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/pppoe.hpp"
#include "zabbix/session.hpp"
#include "zabbix/worker.hpp"

namespace {

using testing_support::FakeHttp;

constexpr const char* URL = "https://zbx.example/api_jsonrpc.php";
// Classic login, newer login, item.get, logout: the most one worker sends.
constexpr int MAX_PEDIDOS = 4;

const net::Credentials CREDENCIAIS{"Admin", "zabbix"};

// A body from the fuzzer, or now and then a typical answer with a fuzzed part inside.
std::string corpo(FuzzedDataProvider& dados) {
  const std::string bruto = dados.ConsumeRandomLengthString(512);
  switch (dados.ConsumeIntegralInRange(0, 3)) {
    case 0: return R"({"jsonrpc":"2.0","result":)" + bruto + R"(,"id":1})";
    case 1: return R"({"jsonrpc":"2.0","result":[{"itemid":"1","lastvalue":)" + bruto + R"(}],"id":1})";
    default: return bruto;
  }
}

void roteirizar(FakeHttp& http, FuzzedDataProvider& dados) {
  for (int i = 0; i < MAX_PEDIDOS; ++i) {
    if (dados.ConsumeIntegralInRange(0, 7) == 0) {
      http.fail("Recv failure: Connection reset by peer");
    } else {
      static constexpr long STATUS[] = {200, 200, 200, 401, 500};
      http.respond(STATUS[dados.ConsumeIntegralInRange(0, 4)], corpo(dados));
    }
  }
}

net::Json campo(FuzzedDataProvider& dados) {
  switch (dados.ConsumeIntegralInRange(0, 7)) {
    case 0: return nullptr;
    case 1: return dados.ConsumeIntegral<std::int32_t>();
    default: return dados.ConsumeRandomLengthString(24);
  }
}

void worker(FuzzedDataProvider& dados, bool debug) {
  records::ClienteDados item{campo(dados), campo(dados), campo(dados), campo(dados)};
  FakeHttp http;
  roteirizar(http, dados);
  try {
    const auto registro = zabbix::processarCliente(http, item, CREDENCIAIS, debug);
    fuzz::require(registro.status == 0 || registro.status == 1, "status other than 0 or 1");
    fuzz::require(registro.status == 1 || registro.pppoe == 0, "a status-0 record with a count");
    fuzz::require(item.texto(records::ClienteDados::Campo::nome) == registro.cliente,
                  "{#CLIENTE} is not the item's name");
    fuzz::require(http.requests().size() <= MAX_PEDIDOS, "more requests than a worker makes");
  } catch (const zabbix::ItemInvalido&) {
    fuzz::require(http.requests().empty(), "an unusable item was noticed after a request");
  } catch (const zabbix::NumeralInvalido&) {
  } catch (const zabbix::RespostaInesperada&) {
  }
}

void leitores(FuzzedDataProvider& dados, bool debug) {
  FakeHttp http;
  roteirizar(http, dados);
  const zabbix::TokenZabbix token = zabbix::obterTokenZabbix(http, URL, "Admin", dados.ConsumeRandomLengthString(16));
  try {
    zabbix::obterValorSessaoPPPoE(http, URL, token.temToken() ? token : zabbix::TokenZabbix{"t"}, debug);
  } catch (const zabbix::NumeralInvalido&) {
  } catch (const zabbix::RespostaInesperada&) {
  }
  try {
    zabbix::userLogout(http, URL, zabbix::TokenZabbix{"t"});
  } catch (const net::RequestException&) {
  } catch (const zabbix::RespostaInesperada&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The debug lines would drown libFuzzer's own report, which goes to stderr.
  const int nulo = ::open("/dev/null", O_WRONLY);
  ::dup2(nulo, STDOUT_FILENO);
  ::close(nulo);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider dados(data, size);
  const bool debug = dados.ConsumeBool();
  if (dados.ConsumeBool()) {
    worker(dados, debug);
  } else {
    leitores(dados, debug);
  }
  return 0;
}
