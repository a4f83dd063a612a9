// The line-protocol encoder: names and values of any bytes. A line either comes out or
// IngressError says why (an empty name, no column left); a line that comes out decodes
// back, with a small reader of our own, to exactly the row that was given.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "fuzz/check.hpp"
#include "store/ingestion.hpp"

namespace {

struct Lido {
  std::string tabela;
  store::Simbolos simbolos;
  std::vector<std::pair<std::string, std::string>> colunas;  // value as written: 12i, 34t
  std::string at;
};

// Reads up to an unescaped byte of `fim`; a backslash takes the next byte as it is.
std::optional<std::string> ler(std::string_view linha, std::size_t& i, std::string_view fim) {
  std::string saida;
  while (i < linha.size() && fim.find(linha[i]) == std::string_view::npos) {
    if (linha[i] == '\\') {
      if (++i == linha.size()) return std::nullopt;
    }
    saida.push_back(linha[i++]);
  }
  if (i == linha.size()) return std::nullopt;
  return saida;
}

std::optional<Lido> decodificar(std::string_view linha) {
  Lido lido;
  std::size_t i = 0;
  auto tabela = ler(linha, i, ", ");
  if (!tabela) return std::nullopt;
  lido.tabela = *tabela;
  while (linha[i] == ',') {
    ++i;
    auto nome = ler(linha, i, "=");
    if (!nome) return std::nullopt;
    ++i;
    auto valor = ler(linha, i, ", ");
    if (!valor) return std::nullopt;
    lido.simbolos.emplace_back(*nome, *valor);
  }
  do {
    ++i;  // the space before the columns, or the comma between them
    auto nome = ler(linha, i, "=");
    if (!nome) return std::nullopt;
    ++i;
    const auto fimValor = linha.find_first_of(", ", i);
    if (fimValor == std::string_view::npos) return std::nullopt;
    lido.colunas.emplace_back(*nome, std::string(linha.substr(i, fimValor - i)));
    i = fimValor;
  } while (linha[i] == ',');
  const auto fimLinha = linha.find('\n', i);
  if (fimLinha != linha.size() - 1) return std::nullopt;
  lido.at = std::string(linha.substr(i + 1, fimLinha - i - 1));
  return lido;
}

std::string texto(const store::ValorColuna& valor) {
  if (const auto* inteiro = std::get_if<std::int64_t>(&valor)) return std::to_string(*inteiro) + "i";
  return std::to_string(std::get<store::TimestampMicros>(valor).micros) + "t";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider dados(data, size);
  const std::string tabela = dados.ConsumeRandomLengthString(32);
  store::Simbolos simbolos(dados.ConsumeIntegralInRange(0, 3));
  for (auto& [nome, valor] : simbolos) {
    nome = dados.ConsumeRandomLengthString(24);
    valor = dados.ConsumeRandomLengthString(48);
  }
  store::Colunas colunas(dados.ConsumeIntegralInRange(0, 5));
  for (auto& [nome, valor] : colunas) {
    nome = dados.ConsumeRandomLengthString(24);
    switch (dados.ConsumeIntegralInRange(0, 2)) {
      case 0: valor = std::monostate{}; break;
      case 1: valor = dados.ConsumeIntegral<std::int64_t>(); break;
      default: valor = store::TimestampMicros{dados.ConsumeIntegral<std::int64_t>()};
    }
  }
  const store::TimestampNanos at{dados.ConsumeIntegral<std::int64_t>()};

  bool nomeVazio = tabela.empty();
  for (const auto& [nome, valor] : simbolos) nomeVazio = nomeVazio || nome.empty();
  std::vector<std::pair<std::string, std::string>> esperadas;
  for (const auto& [nome, valor] : colunas) {
    if (!std::holds_alternative<std::monostate>(valor)) esperadas.emplace_back(nome, texto(valor));
  }

  std::string linha;
  try {
    linha = store::linhaProtocolo(tabela, simbolos, colunas, at);
  } catch (const store::IngressError&) {
    bool colunaSemNome = false;
    for (const auto& [nome, valor] : colunas) colunaSemNome = colunaSemNome || nome.empty();
    fuzz::require(nomeVazio || colunaSemNome || esperadas.empty(), "a row with names and a column was refused");
    return 0;
  }
  fuzz::require(!nomeVazio && !esperadas.empty(), "a row without a name or a column was written");
  const auto lido = decodificar(linha);
  fuzz::require(lido.has_value(), "the line does not decode");
  fuzz::require(lido->tabela == tabela, "table name changed");
  fuzz::require(lido->simbolos == simbolos, "symbols changed");
  fuzz::require(lido->colunas == esperadas, "columns changed");
  fuzz::require(lido->at == std::to_string(at.nanos), "row time changed");
  return 0;
}
