#include "run/command_line.hpp"

#include <array>
#include <cstring>

namespace run {

namespace {

using discovery::Configuracao;

constexpr int ARGUMENTOS_COMPLETOS = 10;

struct Argumento {
  std::string& (*campo)(Configuracao&);
  bool secreto;
};

// Positions 2 to 9, in order; the debug switch at position 10 is read on its own.
constexpr std::array<Argumento, 8> ARGUMENTOS = {{
    {[](Configuracao& c) -> std::string& { return c.zabbix.usuario; }, false},
    {[](Configuracao& c) -> std::string& { return c.zabbix.senha; }, true},
    {[](Configuracao& c) -> std::string& { return c.registro.usuario; }, false},
    {[](Configuracao& c) -> std::string& { return c.registro.senha; }, true},
    {[](Configuracao& c) -> std::string& { return c.questDb.host; }, false},
    {[](Configuracao& c) -> std::string& { return c.questDb.porta; }, false},
    {[](Configuracao& c) -> std::string& { return c.questDb.usuario; }, false},
    {[](Configuracao& c) -> std::string& { return c.questDb.senha; }, true},
}};
static_assert(NOMES_ARGUMENTOS.size() == ARGUMENTOS.size() + 1, "one name per argument after the mode");

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
  for (std::size_t i = 0; i < ARGUMENTOS.size(); ++i) ARGUMENTOS[i].campo(configuracao) = argumentos[i];
  // Debug mode exactly when the last argument is the text "debug".
  configuracao.modoDebug = argumentos.back() == "debug";
  return configuracao;
}

void ocultarSenhas(int argc, char** argv) {
  if (argc - 1 != ARGUMENTOS_COMPLETOS) return;
  for (std::size_t i = 0; i < ARGUMENTOS.size(); ++i) {
    if (ARGUMENTOS[i].secreto) std::memset(argv[i + 2], 0, std::strlen(argv[i + 2]));
  }
}

}  // namespace run
