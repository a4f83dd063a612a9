#include "run/dispatch.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "base/console.hpp"
#include "base/deadline.hpp"
#include "base/exit_status.hpp"
#include "base/failure.hpp"
#include "net/http.hpp"
#include "run/config.hpp"
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

// Workers may still be blocked in a request: end the process without unwinding them.
[[noreturn]] void encerrarPorTempo(const base::TimeoutException& expirou) {
  if (base::claimEnding()) {
    base::console::line(expirou.what());
    std::_Exit(statusFinal(base::STATUS_OK));
  }
  for (;;) pause();  // the watchdog is already printing and ending the process
}

const discovery::Configuracao& exigirConfiguracao(const LinhaComando& linha) {
  if (!linha.configuracao) throw LinhaComandoIncompleta("o modo exige a linha de comando completa (dez argumentos)");
  return *linha.configuracao;
}

}  // namespace

int despachar(const LinhaComando& linha) {
  const std::string& mode = linha.mode;
  if (mode == "version") {
    get_version(linha.nomeInvocacao);
    return base::STATUS_OK;
  }
  if (mode == "descobertaPPPoE") {
    const auto& configuracao =
        base::inStep("descobertaPPPoE", [&]() -> const discovery::Configuracao& { return exigirConfiguracao(linha); });
    return discovery::descobertaPPPoE(configuracao);
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
  const auto linhaComando = lerLinhaComando(argc, argv, config::CA_BUNDLE);
  if (!linhaComando) {
    base::console::line(mensagemFatal());
    return base::STATUS_FAILURE;
  }
  ocultarSenhas(argc, argv);
  try {
    const net::CurlGlobal curl;  // before any thread starts
    int status;
    {
      auto guarda = base::runtime_limiter(config::RUNTIME_LIMIT_SECONDS);
      status = despachar(*linhaComando);
    }
    return statusFinal(status);
  } catch (const base::TimeoutException& expirou) {
    encerrarPorTempo(expirou);
  } catch (...) {
    base::console::errorLine(relatorioFalha(std::current_exception()));
    return base::STATUS_FAILURE;
  }
}

}  // namespace run
