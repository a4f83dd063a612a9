#include "run/dispatch.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>

#include "base/console.hpp"
#include "base/deadline.hpp"
#include "base/exit_status.hpp"
#include "base/failure.hpp"
#include "net/http.hpp"
#include "run/conf_file.hpp"
#include "run/config.hpp"
#include "run/environment.hpp"
#include "run/health.hpp"
#include "run/launch.hpp"
#include "run/report.hpp"
#include "run/version.hpp"

namespace run {

namespace {

std::string mensagemFatal() {
  return std::string("Erro crítico -- Contactar Tarquel em: ") + config::SUPPORT_EMAIL + " ou " + config::SUPPORT_PHONE;
}

int statusFinal(int status) {
  return status == base::STATUS_OK && base::console::outputFailed() ? base::STATUS_OUTPUT_LOST : status;
}

base::LastWords registroTempoEsgotado(Saude& saude) {
  return [&saude](int status) { saude.registrar(Desfecho::tempoEsgotado, status); };
}

// Workers may still be blocked in a request: end the process without unwinding them.
[[noreturn]] void encerrarPorTempo(const base::TimeoutException& expirou, Saude& saude) {
  if (base::claimEnding()) base::endOnTimeout(expirou.what(), registroTempoEsgotado(saude));
  for (;;) pause();  // the watchdog is already printing and ending the process
}

const discovery::Configuracao& exigirConfiguracao(const LinhaComando& linha) {
  if (!linha.configuracao) throw LinhaComandoIncompleta("o modo exige a linha de comando completa (dez argumentos)");
  return *linha.configuracao;
}

// Only the discovery from the mode alone reads the file: a full command line stays as it is.
bool usaArquivo(const LinhaComando& linha) {
  return linha.argumentos.empty() && linha.mode == "descobertaPPPoE" && caminhoConfiguracao();
}

// The file's optional names reach the environment before anything reads it: libcurl its
// proxies, the trust store and the health file their paths. No thread exists yet.
void lerDoArquivo(LinhaComando& linha) {
  const ArquivoConfiguracao arquivo = lerArquivoConfiguracao(*caminhoConfiguracao());
  for (const auto& [nome, valor] : arquivo.ambiente) ::setenv(nome.c_str(), valor.c_str(), 1);
  linha.configuracao = configuracaoDe(arquivo.argumentos);
  if (arquivo.conta) linha.configuracao->contaRegistro = *arquivo.conta;
}

// A QuestDB host or port that would change the meaning of the ingestion's address: refused
// before any request, like a wrong command line.
std::optional<std::string> enderecoRecusado(const LinhaComando& linha) {
  if (linha.mode != "descobertaPPPoE" || !linha.configuracao || linha.configuracao->modoDebug) return std::nullopt;
  if (const auto* motivo = std::get_if<std::string>(&linha.configuracao->questDb)) return *motivo;
  return std::nullopt;
}

Termino terminoDe(discovery::Conclusao conclusao) {
  switch (conclusao) {
    case discovery::Conclusao::armazenada: return {Desfecho::armazenado, base::STATUS_OK};
    case discovery::Conclusao::relatorio: return {Desfecho::relatorio, base::STATUS_OK};
    case discovery::Conclusao::ingestaoRecusada: return {Desfecho::ingestaoRecusada, base::STATUS_FAILURE};
  }
  return {Desfecho::falhou, base::STATUS_FAILURE};
}

int executarModo(const LinhaComando& linha, Saude& saude) {
  // Outside the try: on the time-out path workers may still be inside libcurl, whose
  // shutdown must then not run.
  std::optional<net::CurlGlobal> curl;
  try {
    curl.emplace();  // before any thread starts
    Termino termino;
    {
      auto guarda = base::runtime_limiter(config::RUNTIME_LIMIT_SECONDS, registroTempoEsgotado(saude));
      termino = despachar(linha, saude.totais());
    }
    const int status = statusFinal(termino.status);
    saude.registrar(termino.desfecho, status);
    return status;
  } catch (const base::TimeoutException& expirou) {
    encerrarPorTempo(expirou, saude);
  } catch (...) {
    base::console::errorLine(relatorioFalha(std::current_exception()));
    saude.registrar(Desfecho::falhou, base::STATUS_FAILURE);
    return base::STATUS_FAILURE;
  }
}

}  // namespace

Termino despachar(const LinhaComando& linha, discovery::Totais& totais) {
  const std::string& mode = linha.mode;
  const Termino outroModo{Desfecho::outroModo, base::STATUS_OK};
  if (mode == "version") {
    get_version(linha.nomeInvocacao);
    return outroModo;
  }
  if (mode == "descobertaPPPoE") {
    const auto& configuracao =
        base::inStep("descobertaPPPoE", [&]() -> const discovery::Configuracao& { return exigirConfiguracao(linha); });
    return terminoDe(discovery::descobertaPPPoE(configuracao, totais));
  }
  if (mode.find("launch_") != std::string::npos) {
    launch(linha);
    return outroModo;
  }
  base::console::line("Modo de execução não identificado.");
  return outroModo;
}

int executar(int argc, char** argv) {
  base::console::prepareDescriptors();
  if (erroPadraoNoJornal()) base::console::useJournalLevels();
  std::signal(SIGPIPE, SIG_IGN);
  auto linhaComando = lerLinhaComando(argc, argv);
  ocultarSenhas(argc, argv);
  if (linhaComando && usaArquivo(*linhaComando)) {
    try {
      lerDoArquivo(*linhaComando);
    } catch (const ConfiguracaoInvalida& invalida) {
      base::console::errorLine("Erro: " + std::string(invalida.what()));
      Saude(caminhoSaude()).registrar(Desfecho::linhaComando, base::STATUS_CONFIG);
      return base::STATUS_CONFIG;
    }
  }
  Saude saude(caminhoSaude());
  if (!linhaComando) {
    base::console::line(mensagemFatal());
    saude.registrar(Desfecho::linhaComando, base::STATUS_FAILURE);
    return base::STATUS_FAILURE;
  }
  if (const auto motivo = enderecoRecusado(*linhaComando)) {
    base::console::errorLine("Erro: " + *motivo);
    saude.registrar(Desfecho::linhaComando, base::STATUS_FAILURE);
    return base::STATUS_FAILURE;
  }
  if (linhaComando->configuracao) linhaComando->configuracao->caBundle = caBundle();
  return executarModo(*linhaComando, saude);
}

}  // namespace run
