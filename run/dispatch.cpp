#include "run/dispatch.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "discovery/discovery.hpp"
#include "run/config.hpp"
#include "run/console.hpp"
#include "run/constants.hpp"
#include "run/exit_status.hpp"
#include "run/failure.hpp"
#include "run/process_control.hpp"
#include "run/settings.hpp"
#include "run/version.hpp"

namespace run {

namespace {

std::string mensagemFatal() {
  return std::string("Erro crítico -- Contactar Tarquel em: ") + config::SUPPORT_EMAIL + " ou " + config::SUPPORT_PHONE;
}

int statusFinal(int status) {
  return status == EXIT_SUCESSO && console::saidaFalhou() ? EXIT_SAIDA_PERDIDA : status;
}

// Workers may still be blocked in a request: end the process without unwinding them.
[[noreturn]] void encerrarPorTempo(const TimeoutException& expirou) {
  if (reivindicarEncerramento()) {
    console::linha(expirou.what());
    std::_Exit(statusFinal(EXIT_SUCESSO));
  }
  for (;;) pause();  // the watchdog is already printing and ending the process
}

}  // namespace

int despachar() {
  const std::string& mode = settings().mode;
  if (mode == "version") {
    get_version();
    return EXIT_SUCESSO;
  }
  if (mode == "descobertaPPPoE") return discovery::descobertaPPPoE();
  if (mode.find("launch_") != std::string::npos) {
    launch(mode);
    return EXIT_SUCESSO;
  }
  console::linha("Modo de execução não identificado.");
  return EXIT_SUCESSO;
}

int executar(int argc, char** argv) {
  console::prepararDescritores();
  std::signal(SIGPIPE, SIG_IGN);
  auto linhaComando = lerLinhaComando(argc, argv);
  if (!linhaComando) {
    console::linha(mensagemFatal());
    return EXIT_FALHA;
  }
  fixarSettings(std::move(*linhaComando));
  ocultarSenhas(argc, argv);
  try {
    int status;
    {
      auto guarda = runtime_limiter(RUNTIME_LIMIT);
      status = despachar();
    }
    return statusFinal(status);
  } catch (const TimeoutException& expirou) {
    encerrarPorTempo(expirou);
  } catch (...) {
    relatarFalha(std::current_exception());
    return EXIT_FALHA;
  }
}

}  // namespace run
