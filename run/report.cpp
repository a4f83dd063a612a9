#include "run/report.hpp"

#include <new>
#include <system_error>
#include <utility>

#include "base/failure.hpp"
#include "base/text.hpp"

namespace run {

namespace {

// What operators read for each kind; a kind without its words does not compile (-Werror=switch).
constexpr const char* nomeDoTipo(base::FailureKind tipo) {
  switch (tipo) {
    using enum base::FailureKind;
    case notJson: return "resposta que não é JSON";
    case notUtf8: return "texto que não é UTF-8";
    case request: return "falha na requisição";
    case missingToken: return "login do registro sem token";
    case invalidList: return "lista de clientes inválida";
    case unexpectedAnswer: return "resposta inesperada do Zabbix";
    case invalidNumeral: return "número inválido";
    case invalidItem: return "item de trabalho inválido";
    case ingestion: return "falha na ingestão";
    case incompleteCommandLine: return "linha de comando incompleta";
  }
  return "erro interno";
}

struct Tipo {
  std::string nome;
  std::string mensagem;
};

Tipo tipoDe(std::exception_ptr causa) {
  try {
    std::rethrow_exception(std::move(causa));
  } catch (const base::Failure& e) {
    return {nomeDoTipo(e.kind()), e.what()};
  } catch (const std::system_error& e) {
    return {"erro do sistema", e.what()};
  } catch (const std::bad_alloc& e) {
    return {"memória esgotada", e.what()};
  } catch (const std::exception& e) {
    return {"erro interno", e.what()};
  } catch (...) {
    return {"exceção desconhecida", ""};
  }
}

}  // namespace

std::string relatorioFalha(std::exception_ptr falha) {
  const auto [etapas, causa] = base::unwind(std::move(falha));
  const Tipo tipo = tipoDe(causa);
  // The message may quote a peer's text: shown on one line, with nothing a terminal acts on.
  return "coletor-pppoe: falha não tratada" + (etapas.empty() ? "" : " em " + etapas) + ": " + tipo.nome +
         (tipo.mensagem.empty() ? "" : ": " + base::printable(tipo.mensagem));
}

}  // namespace run
