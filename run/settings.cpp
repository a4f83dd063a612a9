#include "run/settings.hpp"

#include <cstring>

namespace run {

namespace {

Settings g_settings;

constexpr int ARGUMENTOS_COMPLETOS = 10;
// Positions (after the program name) of the Zabbix, registry and QuestDB passwords.
constexpr int POSICOES_SENHA[] = {3, 5, 9};

}  // namespace

SettingAusente::SettingAusente(std::string_view nome)
    : mensagem_("setting '" + std::string(nome) + "' ausente: o modo exige a linha de comando completa") {}

std::optional<Settings> lerLinhaComando(int argc, const char* const* argv) {
  const int quantidade = argc - 1;
  if (quantidade != 1 && quantidade != ARGUMENTOS_COMPLETOS) return std::nullopt;
  Settings s;
  s.nomeInvocacao = argv[0];
  s.mode = argv[1];
  if (quantidade == ARGUMENTOS_COMPLETOS) {
    s.usuarioZabbix = argv[2];
    s.senhaZabbix = argv[3];
    s.usuarioTQ = argv[4];
    s.senhaTQ = argv[5];
    s.questDbIp = argv[6];
    s.questDbPort = argv[7];
    s.questDbUser = argv[8];
    s.questDbPass = argv[9];
    s.zabbixHost = argv[argc - 1];
  }
  return s;
}

void fixarSettings(Settings settings) { g_settings = std::move(settings); }

const Settings& settings() { return g_settings; }

const std::string& exigir(const std::optional<std::string>& setting, std::string_view nome) {
  if (!setting) throw SettingAusente(nome);
  return *setting;
}

bool modoDebug() { return g_settings.zabbixHost == "debug"; }

void ocultarSenhas(int argc, char** argv) {
  if (argc - 1 != ARGUMENTOS_COMPLETOS) return;
  for (int posicao : POSICOES_SENHA) std::memset(argv[posicao], 0, std::strlen(argv[posicao]));
}

}  // namespace run
