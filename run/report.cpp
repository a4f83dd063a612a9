#include "run/report.hpp"

#include <new>
#include <system_error>
#include <utility>

#include "base/failure.hpp"
#include "base/text.hpp"
#include "discovery/selection.hpp"
#include "net/http.hpp"
#include "net/json.hpp"
#include "registry/registry.hpp"
#include "run/command_line.hpp"
#include "store/ingestion.hpp"
#include "zabbix/jsonrpc.hpp"
#include "zabbix/numeral.hpp"
#include "zabbix/worker.hpp"

namespace run {

namespace {

struct Tipo {
  std::string nome;
  std::string mensagem;
};

// Most specific kinds first: a handler takes the first that matches.
Tipo tipoDe(std::exception_ptr causa) {
  try {
    std::rethrow_exception(std::move(causa));
  } catch (const net::JsonError& e) {
    return {"resposta que não é JSON", e.what()};
  } catch (const net::JsonEncodeError& e) {
    return {"texto que não é UTF-8", e.what()};
  } catch (const net::RequestException& e) {
    return {"falha na requisição", e.what()};
  } catch (const registry::TokenAusente& e) {
    return {"login do registro sem token", e.what()};
  } catch (const discovery::ListaInvalida& e) {
    return {"lista de clientes inválida", e.what()};
  } catch (const zabbix::RespostaInesperada& e) {
    return {"resposta inesperada do Zabbix", e.what()};
  } catch (const zabbix::NumeralInvalido& e) {
    return {"número inválido", e.what()};
  } catch (const zabbix::ItemInvalido& e) {
    return {"item de trabalho inválido", e.what()};
  } catch (const store::IngressError& e) {
    return {"falha na ingestão", e.what()};
  } catch (const LinhaComandoIncompleta& e) {
    return {"linha de comando incompleta", e.what()};
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
