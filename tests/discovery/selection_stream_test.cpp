// Selecting from the body as it is parsed must pick the same links and fail in the same
// way, at the same step, as parsing the whole body and then selecting.
#include <gtest/gtest.h>

#include <string>

#include "discovery/selection.hpp"

namespace {

using discovery::selecionarDoCorpo;

std::string reasonOf(const std::exception_ptr& falha) {
  try {
    std::rethrow_exception(falha);
  } catch (const discovery::ListaInvalida& erro) {
    return std::string("ListaInvalida: ") + erro.what();
  } catch (const std::exception& erro) {
    return std::string("other: ") + erro.what();
  }
}

// The old way: parse whole (may throw), then select (may throw ListaInvalida).
std::string wholeParse(const std::string& corpo, records::ListaClientes& lista) {
  const net::Json documento = net::parseJson(corpo);
  try {
    lista = discovery::selecionarClientes(documento);
  } catch (...) {
    return reasonOf(std::current_exception());
  }
  return "";
}

void expectSameResult(const std::string& corpo) {
  records::ListaClientes esperada;
  const std::string falhaEsperada = wholeParse(corpo, esperada);
  const auto selecao = selecionarDoCorpo(corpo);
  EXPECT_EQ(selecao.falha ? reasonOf(selecao.falha) : "", falhaEsperada) << corpo;
  ASSERT_EQ(selecao.lista.size(), esperada.size()) << corpo;
  for (std::size_t i = 0; i < esperada.size(); ++i) {
    EXPECT_TRUE(selecao.lista[i] == esperada[i]) << corpo;
  }
}

TEST(SelecionarDoCorpo, SelectsAndFailsExactlyAsParsingWholeThenSelecting) {
  const char* casos[] = {
      R"([
    {"empresa": "Alfa", "numero": 42, "parceiro": "P1", "produto": [
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "a1"}, {"tipo": "grafana", "link": "x"},
                                   {"tipo": "zabbix", "link": "a2"}]},
      {"tipo": "outro", "link": [{"tipo": "zabbix", "link": "nao"}]},
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "a3"}]}]},
    {"empresa": "Beta", "numero": "7", "parceiro": "P2", "produto": [
      {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "b1"}]}]}])",
      R"([{"empresa": "E", "numero": 5, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [
      {"link": "sem-tipo"}, {"tipo": "Zabbix", "link": "m"}, {"tipo": "zabbix"}, {"tipo": "zabbix", "link": ""}]}]},
      {"empresa": "", "numero": 6, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "x"}]}]},
      {"empresa": 99, "numero": 7.5, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": " "}]}]}])",
      "[]",
      "{}",
      "\"\"",
      " [ ] ",
      R"({"error": "token inválido"})",
      R"("texto")",
      "42",
      "null",
      "[1]",
      "[null]",
      R"([{"numero": 1, "parceiro": "P"}])",
      R"([{"empresa": "A", "numero": 1}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"link": []}]}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": {"tipo": "ornivex"}}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [1]}]}])",
      R"([[1, 2], {"empresa": "A"}])",
      // Escaped texts, repeated names (the last one counts), numbers of every kind.
      R"([{"empresa": "Caf\u00e9", "numero": "12", "parceiro": "P", "produto": [{"tipo": "ornive\u0078",
          "link": [{"tipo": "zabb\u0069x", "link": "https:\/\/z.example\/"}]}]}])",
      R"([{"empresa": "Velho", "empresa": "Novo", "numero": 1, "parceiro": "P", "produto": 5, "produto": [
          {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "a", "link": "b"}, {"tipo": "zabbix", "tipo": 1, "link": "c"}]}]}])",
      R"([{"empresa": "F", "numero": 1.0, "parceiro": "P", "valor": 2.5e3, "produto": [{"tipo": "ornivex", "link": [
          {"tipo": "zabbix", "link": "f"}]}]}, {"empresa": 5, "numero": -7, "parceiro": null, "produto": [
          {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": {"u": 1}}]}]}, {"empresa": "G", "numero": 123456789012345678901,
          "parceiro": ["x"], "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "g"}]}]}])",
      R"([{"empresa": "A", "numero": 1, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "ok"}]}]},
          {"empresa": "B", "parceiro": "P"},
          {"empresa": "C", "numero": 3, "parceiro": "P", "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "c"}]}]}])",
  };
  for (const char* caso : casos) expectSameResult(caso);
}

TEST(SelecionarDoCorpo, ABodyThatIsNotJsonFailsAsSuchEvenAfterAWrongEntry) {
  const std::string corpo = R"([{"empresa": "B", "parceiro": "P"}, {"empresa": "C", )";
  std::string esperado;
  try {
    net::parseJson(corpo);
  } catch (const net::JsonError& erro) {
    esperado = erro.what();
  }
  try {
    selecionarDoCorpo(corpo);
    FAIL() << "no failure";
  } catch (const net::JsonError& erro) {
    EXPECT_EQ(std::string(erro.what()), esperado);
  }
}

}  // namespace
