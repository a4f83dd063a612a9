#include "discovery/selection.hpp"

#include <gtest/gtest.h>

namespace {

using discovery::selecionarClientes;
using net::Json;
using Campo = records::ClienteDados::Campo;

std::vector<std::string> links(const records::ListaClientes& lista) {
  std::vector<std::string> saida;
  for (const auto& item : lista) saida.emplace_back(item.comoTexto(Campo::link));
  return saida;
}

TEST(SelecionarClientes, TakesEveryZabbixLinkOfEveryOrnivexProductInOrder) {
  const Json lista = Json::parse(R"([
    {"empresa": "Alfa", "numero": 42, "parceiro": "P1", "produto": [
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "a1"}, {"tipo": "grafana", "link": "x"},
                                   {"tipo": "zabbix", "link": "a2"}]},
      {"tipo": "outro", "link": [{"tipo": "zabbix", "link": "nao"}]},
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "a3"}]}]},
    {"empresa": "Beta", "numero": "7", "parceiro": "P2", "produto": [
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "b1"}]}]}
  ])");
  const auto selecionados = selecionarClientes(lista);
  EXPECT_EQ(links(selecionados), (std::vector<std::string>{"a1", "a2", "a3", "b1"}));
  EXPECT_EQ(selecionados[0].texto(Campo::nome), "Alfa");
  EXPECT_EQ(selecionados[0].texto(Campo::numero), "42");  // an integer reaches the worker as text
  EXPECT_EQ(selecionados[0].texto(Campo::parceiro), "P1");
  EXPECT_EQ(selecionados[3].texto(Campo::numero), "7");
}

TEST(SelecionarClientes, ComparesTypesExactlyAndSkipsWhatLacksOptionalMembers) {
  const Json lista = Json::parse(R"([
    {"empresa": "A", "numero": 1, "parceiro": "P"},
    {"empresa": "B", "numero": 2, "parceiro": "P", "produto": [{"tipo": "Ornivex", "link": [{"tipo": "zabbix", "link": "x"}]}]},
    {"empresa": "C", "numero": 3, "parceiro": "P", "produto": [{"tipo": "ornivex ", "link": [{"tipo": "zabbix", "link": "x"}]}]},
    {"empresa": "D", "numero": 4, "parceiro": "P", "produto": [{"tipo": "ornivex"}]},
    {"empresa": "E", "numero": 5, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [
      {"link": "sem-tipo"}, {"tipo": "Zabbix", "link": "maiuscula"}, {"tipo": "zabbix"}, {"tipo": "zabbix", "link": ""}]}]},
    {"empresa": "", "numero": 6, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "x"}]}]},
    {"empresa": 99, "numero": 7, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": " "}]}]}
  ])");
  const auto selecionados = selecionarClientes(lista);
  ASSERT_EQ(links(selecionados), (std::vector<std::string>{" "}));
  EXPECT_EQ(selecionados[0].texto(Campo::nome), std::nullopt);
  EXPECT_EQ(selecionados[0].comoTexto(Campo::nome),
            "99");  // only the empty text is refused; the worker judges the rest
}

TEST(SelecionarClientes, AcceptsAnEmptyListEmptyObjectOrEmptyText) {
  for (const char* documento : {"[]", "{}", "\"\""}) {
    EXPECT_TRUE(selecionarClientes(Json::parse(documento)).empty()) << documento;
  }
}

TEST(SelecionarClientes, FailsOnDocumentsOfTheWrongShape) {
  const char* casos[] = {
      R"({"error": "token inválido"})",
      R"("texto")",
      "42",
      "null",
      R"([{"numero": 1, "parceiro": "P"}])",
      R"([{"empresa": "A", "parceiro": "P"}])",
      R"([{"empresa": "A", "numero": 1}])",  // fails although it has no product
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"link": []}]}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": {"tipo": "ornivex"}}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": ["ornivex"]}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": "x"}]}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [1]}]}])",
      R"([[1, 2]])",
  };
  for (const char* caso : casos) EXPECT_THROW(selecionarClientes(Json::parse(caso)), discovery::ListaInvalida) << caso;
}

TEST(NumeroComoTexto, KeepsTextAndWritesNumbersInDecimal) {
  EXPECT_EQ(discovery::numeroComoTexto(Json(42)), "42");
  EXPECT_EQ(discovery::numeroComoTexto(Json(-3)), "-3");
  EXPECT_EQ(discovery::numeroComoTexto(Json(" 7 ")), " 7 ");
  EXPECT_EQ(discovery::numeroComoTexto(Json(18446744073709551615ULL)), "18446744073709551615");
}

}  // namespace
