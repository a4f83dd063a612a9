#include "discovery/discovery.hpp"

#include <algorithm>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/text.hpp"
#include "discovery/pool.hpp"
#include "discovery/relatorio_debug.hpp"
#include "discovery/selection.hpp"
#include "store/store.hpp"

namespace discovery {

namespace {

using records::ClienteDados;
using records::ListaClientes;
using records::RegistroDescoberta;

// The steps an operator reads in the report of a failure; fixed, whatever the code is called.
enum class Etapa { loginRegistro, listaClientes, selecao, cliente, armazenamento };

// A step without its name does not compile (-Werror=switch).
constexpr const char* nomeDaEtapa(Etapa etapa) {
  switch (etapa) {
    case Etapa::loginRegistro: return "obterTokenSistemaTQ";
    case Etapa::listaClientes: return "obterListaClientes";
    case Etapa::selecao: return "seleção dos clientes";
    case Etapa::cliente: return "processarCliente";
    case Etapa::armazenamento: return "sendQuestDB";
  }
  return "";
}

template <class Passo>
decltype(auto) naEtapa(Etapa etapa, Passo&& passo, const std::string& detalhe = "") {
  const std::string nome = nomeDaEtapa(etapa);
  return base::inStep(detalhe.empty() ? nome : nome + "(" + detalhe + ")", std::forward<Passo>(passo));
}

ListaClientes obterSelecao(net::HttpClient& http, const registry::Conta& conta) {
  const net::Json tokenTQ = naEtapa(Etapa::loginRegistro, [&] { return registry::obterTokenSistemaTQ(http, conta); });
  // The list is selected as it is parsed, never held whole: a 100 000-customer list
  // would otherwise cost about 7 times its 26 MB as a tree.
  SelecaoDoCorpo selecao =
      naEtapa(Etapa::listaClientes, [&] { return selecionarDoCorpo(registry::obterListaClientes(http, tokenTQ)); });
  return naEtapa(Etapa::selecao, [&] {
    if (selecao.falha) std::rethrow_exception(selecao.falha);
    return std::move(selecao.lista);
  });
}

records::ResultadoDescoberta consultarClientes(ListaClientes lista, const Configuracao& configuracao,
                                               const std::shared_ptr<const net::TrustStore>& confianca) {
  // Workers left behind at the deadline may outlive the run: the tasks hold their own copies.
  auto trabalho = [credenciais = configuracao.zabbix, modoDebug = configuracao.modoDebug](
                      net::HttpClient& http, const ClienteDados& clienteDados) {
    return naEtapa(
        Etapa::cliente, [&] { return zabbix::processarCliente(http, clienteDados, credenciais, modoDebug); },
        base::printable(clienteDados.comoTexto(ClienteDados::Campo::nome)));
  };
  auto fabrica = [confianca] { return std::make_unique<net::CurlClient>(confianca); };
  return processarLista(std::move(lista), std::move(trabalho), std::move(fabrica));
}

}  // namespace

Conclusao descobertaPPPoE(const Configuracao& configuracao, Totais& totais) {
  // Parsed once: every thread's handshakes share it.
  const auto confianca = std::make_shared<const net::TrustStore>(configuracao.caBundle);
  net::CurlClient http(confianca);
  const auto resultado = consultarClientes(obterSelecao(http, configuracao.contaRegistro), configuracao, confianca);
  const auto status1 = std::count_if(resultado.begin(), resultado.end(), [](const auto& r) { return r.status == 1; });
  totais.clientesStatus1 = status1;
  totais.clientesStatus0 = static_cast<long>(resultado.size()) - status1;
  if (configuracao.modoDebug) {
    base::console::block(montarRelatorio(resultado));
    return Conclusao::relatorio;
  }
  const auto& questDb = std::get<store::DestinoQuestDb>(configuracao.questDb);
  const store::Gravacao gravacao =
      naEtapa(Etapa::armazenamento, [&] { return store::sendQuestDB(http, questDb, resultado); });
  totais.linhasDeixadasDeFora = static_cast<long>(gravacao.deixadasDeFora);
  // The ingestion failure was already reported on stderr: no "OK".
  if (!gravacao.aceita) return Conclusao::ingestaoRecusada;
  totais.linhasGravadas = static_cast<long>(gravacao.gravadas);
  base::console::line("OK");
  return Conclusao::armazenada;
}

}  // namespace discovery
