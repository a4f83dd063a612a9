#include "run/dispatch.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/console.hpp"
#include "base/deadline.hpp"
#include "base/exit_status.hpp"
#include "base/failure.hpp"
#include "net/http.hpp"
#include "run/config.hpp"
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

// The operator's PEM bundle, as OpenSSL's own tools take it, or the compiled-in store.
std::string caBundle() {
  const char* pedido = std::getenv("SSL_CERT_FILE");
  return pedido && *pedido ? pedido : config::CA_BUNDLE;
}

std::string caminhoSaude() {
  const char* caminho = std::getenv("COLETOR_METRICS_FILE");
  return caminho ? caminho : "";
}

}  // namespace

int despachar(const LinhaComando& linha, discovery::Totais& totais) {
  const std::string& mode = linha.mode;
  if (mode == "version") {
    get_version(linha.nomeInvocacao);
    return base::STATUS_OK;
  }
  if (mode == "descobertaPPPoE") {
    const auto& configuracao =
        base::inStep("descobertaPPPoE", [&]() -> const discovery::Configuracao& { return exigirConfiguracao(linha); });
    return discovery::descobertaPPPoE(configuracao, totais);
  }
  if (mode.find("launch_") != std::string::npos) {
    launch(linha);
    return base::STATUS_OK;
  }
  base::console::line("Modo de execução não identificado.");
  return base::STATUS_OK;
}

int executar(int argc, char** argv) {
  base::console::prepareDescriptors();
  std::signal(SIGPIPE, SIG_IGN);
  Saude saude(caminhoSaude());
  const auto linhaComando = lerLinhaComando(argc, argv, caBundle());
  if (!linhaComando) {
    base::console::line(mensagemFatal());
    saude.registrar(Desfecho::linhaComando, base::STATUS_FAILURE);
    return base::STATUS_FAILURE;
  }
  ocultarSenhas(argc, argv);
  const bool descoberta = linhaComando->mode == "descobertaPPPoE";
  const bool debug = linhaComando->configuracao && linhaComando->configuracao->modoDebug;
  // Outside the try: on the time-out path workers may still be inside libcurl, whose
  // shutdown must then not run.
  std::optional<net::CurlGlobal> curl;
  try {
    curl.emplace();  // before any thread starts
    int status;
    {
      auto guarda = base::runtime_limiter(config::RUNTIME_LIMIT_SECONDS, registroTempoEsgotado(saude));
      status = statusFinal(despachar(*linhaComando, saude.totais()));
    }
    const Desfecho desfecho = !descoberta                           ? Desfecho::outroModo
                              : status == base::STATUS_FAILURE     ? Desfecho::ingestaoRecusada
                              : debug                              ? Desfecho::relatorio
                                                                   : Desfecho::armazenado;
    saude.registrar(desfecho, status);
    return status;
  } catch (const base::TimeoutException& expirou) {
    encerrarPorTempo(expirou, saude);
  } catch (...) {
    base::console::errorLine(relatorioFalha(std::current_exception()));
    saude.registrar(Desfecho::falhou, base::STATUS_FAILURE);
    return base::STATUS_FAILURE;
  }
}

}  // namespace run
