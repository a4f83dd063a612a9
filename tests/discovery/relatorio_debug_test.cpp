#include "discovery/relatorio_debug.hpp"

#include <gtest/gtest.h>

namespace {

TEST(MontarRelatorio, WritesTheWholeReportByteForByte) {
  const records::ResultadoDescoberta resultado{
      {"Alfa Net", 1, 17, "Beta", 250},
      {"Gama", 0, 3, "Delta", 0},
      {"Épsilon", 1, 9, "Zeta", std::nullopt},
  };
  const std::string esperado =
      "Modo debug ativado:\n"
      "\x1b[0;32m\nVersão do script: 1.0.4\x1b[0;0m \n\n"
      "\x1b[1;36m\n...================================== PPPoEs dos Clientes "
      "================================...\n\x1b[0;0m\n"
      "Cliente: Alfa Net | PPPoE: 250 | Status: 1 | Número: 17 | Parceiro: Beta\n"
      "Cliente: Gama | PPPoE: 0 | Status: 0 | Número: 3 | Parceiro: Delta\n"
      "Cliente: Épsilon | PPPoE: None | Status: 1 | Número: 9 | Parceiro: Zeta\n"
      "\x1b[1;36m\n...========================================== Clientes com Problema "
      "=============================================...\n\x1b[0;0m\n"
      "\x1b[0;93mCliente: Gama\x1b[0;0m\n"
      "\x1b[0;93m\nCaso não haja retorno, entre em contato com a Tarquel.\x1b[0;0m\n";
  EXPECT_EQ(discovery::montarRelatorio(resultado), esperado);
}

TEST(MontarRelatorio, AnEmptyRunStillPrintsBothBannersAndTheClosingLine) {
  const std::string relatorio = discovery::montarRelatorio({});
  EXPECT_EQ(relatorio.find("Cliente: "), std::string::npos);
  EXPECT_NE(relatorio.find("Clientes com Problema"), std::string::npos);
  EXPECT_TRUE(relatorio.ends_with("Tarquel.\x1b[0;0m\n"));
}

}  // namespace
