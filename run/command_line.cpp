#include "run/command_line.hpp"

#include <array>
#include <cstring>

#include "store/store.hpp"

namespace run {

namespace {

using discovery::Configuracao;

constexpr int ARGUMENTOS_COMPLETOS = 10;

// The passwords among positions 2 to 9, in order; the last one is the debug switch.
constexpr std::array<bool, 8> SECRETOS = {false, true, false, true, false, false, false, true};
static_assert(NOMES_ARGUMENTOS.size() == SECRETOS.size() + 1, "one name per argument after the mode");

}  // namespace

std::optional<LinhaComando> lerLinhaComando(int argc, const char* const* argv) {
  const int quantidade = argc - 1;
  if (quantidade != 1 && quantidade != ARGUMENTOS_COMPLETOS) return std::nullopt;
  LinhaComando linha{argv[0], argv[1], {argv + 2, argv + argc}, std::nullopt};
  if (quantidade == ARGUMENTOS_COMPLETOS) linha.configuracao = configuracaoDe(linha.argumentos);
  return linha;
}

Configuracao configuracaoDe(const std::vector<std::string>& argumentos) {
  Configuracao configuracao;
  configuracao.zabbix = {argumentos[0], argumentos[1]};
  // argumentos[2] and [3], the registry's user name and password, are accepted and not used:
  // the login sends the collector's own account.
  configuracao.questDb = store::lerDestino(argumentos[4], argumentos[5], {argumentos[6], argumentos[7]});
  // Debug mode exactly when the last argument is the text "debug".
  configuracao.modoDebug = argumentos.back() == "debug";
  return configuracao;
}

void ocultarSenhas(int argc, char** argv) {
  if (argc - 1 != ARGUMENTOS_COMPLETOS) return;
  for (std::size_t i = 0; i < SECRETOS.size(); ++i) {
    if (SECRETOS[i]) std::memset(argv[i + 2], 0, std::strlen(argv[i + 2]));
  }
}

}  // namespace run
