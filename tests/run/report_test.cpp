#include "run/report.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "base/failure.hpp"
#include "discovery/selection.hpp"
#include "net/http.hpp"
#include "net/json.hpp"
#include "registry/registry.hpp"
#include "run/command_line.hpp"
#include "store/ingestion.hpp"
#include "zabbix/jsonrpc.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/worker.hpp"

namespace {

struct Caso {
  std::exception_ptr falha;
  std::string linha;
};

const std::string INICIO = "coletor-pppoe: falha não tratada: ";

TEST(RelatorioFalha, NamesEachKindOfFailureInTheOperatorsWords) {
  const std::vector<Caso> casos = {
      {std::make_exception_ptr(net::JsonError("m")), INICIO + "resposta que não é JSON: m"},
      {std::make_exception_ptr(net::JsonEncodeError("m")), INICIO + "texto que não é UTF-8: m"},
      {std::make_exception_ptr(net::RequestException("m", true)), INICIO + "falha na requisição: m"},
      {std::make_exception_ptr(registry::TokenAusente("m")), INICIO + "login do registro sem token: m"},
      {std::make_exception_ptr(discovery::ListaInvalida("m")), INICIO + "lista de clientes inválida: m"},
      {std::make_exception_ptr(zabbix::RespostaInesperada("m")), INICIO + "resposta inesperada do Zabbix: m"},
      {std::make_exception_ptr(zabbix::NumeralInvalido("m")), INICIO + "número inválido: m"},
      {std::make_exception_ptr(zabbix::ItemInvalido("m")), INICIO + "item de trabalho inválido: m"},
      {std::make_exception_ptr(store::IngressError("m")), INICIO + "falha na ingestão: m"},
      {std::make_exception_ptr(run::LinhaComandoIncompleta("m")), INICIO + "linha de comando incompleta: m"},
      {std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category(), "m")),
       INICIO + "erro do sistema: m: Resource temporarily unavailable"},
      {std::make_exception_ptr(std::bad_alloc()), INICIO + "memória esgotada: std::bad_alloc"},
      {std::make_exception_ptr(std::logic_error("m")), INICIO + "erro interno: m"},
      {std::make_exception_ptr(42), "coletor-pppoe: falha não tratada: exceção desconhecida"},
  };
  for (const auto& caso : casos) EXPECT_EQ(run::relatorioFalha(caso.falha), caso.linha);
}

TEST(RelatorioFalha, KeepsTheKindThroughTheStepsAndAsTheStandardTypeItIs) {
  std::exception_ptr falha;
  try {
    base::inStep("descobertaPPPoE", [] { base::inStep("sendQuestDB", [] { throw store::IngressError("recusada"); }); });
  } catch (...) {
    falha = std::current_exception();
  }
  EXPECT_EQ(run::relatorioFalha(falha),
            "coletor-pppoe: falha não tratada em descobertaPPPoE > sendQuestDB: falha na ingestão: recusada");
  try {
    throw zabbix::NumeralInvalido("x");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "x");
  }
}

}  // namespace
