#include "discovery/discovery.hpp"

#include "discovery/pool.hpp"
#include "discovery/report.hpp"
#include "discovery/selection.hpp"
#include "net/http.hpp"
#include "registry/registry.hpp"
#include "run/console.hpp"
#include "run/exit_status.hpp"
#include "run/failure.hpp"
#include "run/settings.hpp"
#include "store/store.hpp"
#include "zabbix/worker.hpp"

namespace discovery {

namespace {

RegistroDescoberta processarComEtapa(net::HttpClient& http, const ClienteDados& clienteDados) {
  return run::naEtapa("processarCliente(" + std::string(clienteDados.comoTexto(ClienteDados::Campo::nome)) + ")",
                      [&] { return zabbix::processarCliente(http, clienteDados); });
}

ListaClientes obterSelecao(net::HttpClient& http) {
  const auto& s = run::settings();
  const std::string& usuarioTQ = run::exigir(s.usuarioTQ, "usuarioTQ");
  const std::string& senhaTQ = run::exigir(s.senhaTQ, "senhaTQ");
  const net::Json tokenTQ =
      run::naEtapa("obterTokenSistemaTQ", [&] { return registry::obterTokenSistemaTQ(http, usuarioTQ, senhaTQ); });
  // The list is selected as it is parsed, never held whole: a 100 000-customer list
  // would otherwise cost about 7 times its 26 MB as a tree.
  SelecaoDoCorpo selecao = run::naEtapa("obterListaClientes", [&] {
    return selecionarDoCorpo(registry::corpoListaClientes(http, tokenTQ));
  });
  return run::naEtapa("seleção dos clientes", [&] {
    if (selecao.falha) std::rethrow_exception(selecao.falha);
    return std::move(selecao.lista);
  });
}

}  // namespace

int descobertaPPPoE() {
  const auto& s = run::settings();
  if (!run::modoDebug() && s.questDbIp && s.questDbPort) {
    if (const auto motivo = store::enderecoInvalido(*s.questDbIp, *s.questDbPort)) {
      run::console::linhaErro("Erro: " + *motivo);
      return run::EXIT_FALHA;
    }
  }
  net::CurlClient http;
  const ResultadoDescoberta resultado =
      processarLista(obterSelecao(http), processarComEtapa, [] { return std::make_unique<net::CurlClient>(); });
  if (run::modoDebug()) {
    run::console::bloco(montarRelatorio(resultado));
    return run::EXIT_SUCESSO;
  }
  const bool armazenado = run::naEtapa("sendQuestDB", [&] { return store::sendQuestDB(http, resultado); });
  // The ingestion failure was already reported on stderr: no "OK", and a failing status.
  if (!armazenado) return run::EXIT_FALHA;
  run::console::linha("OK");
  return run::EXIT_SUCESSO;
}

}  // namespace discovery
