#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "run/settings.hpp"
#include "run/version.hpp"

namespace {

std::vector<const char*> argumentos(std::initializer_list<const char*> lista) { return {lista}; }

TEST(LerLinhaComando, AcceptsOnlyOneOrTenArguments) {
  for (int quantidade : {0, 2, 9, 11}) {
    std::vector<const char*> argv(static_cast<size_t>(quantidade) + 1, "x");
    EXPECT_FALSE(run::lerLinhaComando(static_cast<int>(argv.size()), argv.data())) << quantidade;
  }
  auto so = argumentos({"prog", "version"});
  auto lida = run::lerLinhaComando(2, so.data());
  ASSERT_TRUE(lida);
  EXPECT_EQ(lida->mode, "version");
  EXPECT_FALSE(lida->usuarioZabbix);
  EXPECT_THROW(run::exigir(lida->usuarioTQ, "usuarioTQ"), run::SettingAusente);
}

TEST(LerLinhaComando, TakesTheFullFormInItsPositions) {
  auto argv = argumentos({"./c", "m", "uz", "sz", "ut", "st", "ip", "port", "uq", "sq", "debug"});
  auto lida = run::lerLinhaComando(11, argv.data());
  ASSERT_TRUE(lida);
  EXPECT_EQ(lida->nomeInvocacao, "./c");
  EXPECT_EQ(*lida->usuarioZabbix, "uz");
  EXPECT_EQ(*lida->senhaZabbix, "sz");
  EXPECT_EQ(*lida->usuarioTQ, "ut");
  EXPECT_EQ(*lida->senhaTQ, "st");
  EXPECT_EQ(*lida->questDbIp, "ip");
  EXPECT_EQ(*lida->questDbPort, "port");
  EXPECT_EQ(*lida->questDbUser, "uq");
  EXPECT_EQ(*lida->questDbPass, "sq");
  EXPECT_EQ(*lida->zabbixHost, "debug");
}

TEST(ModoDebug, IsOnOnlyForTheExactWord) {
  const std::pair<const char*, bool> casos[] = {{"debug", true}, {"Debug", false}, {"debug ", false}, {"", false}, {"DEBUG", false}};
  for (const auto& [ultimo, ligado] : casos) {
    auto argv = argumentos({"c", "m", "", "", "", "", "", "", "", "", ultimo});
    run::fixarSettings(*run::lerLinhaComando(11, argv.data()));
    EXPECT_EQ(run::modoDebug(), ligado) << '"' << ultimo << '"';
  }
  run::fixarSettings({});
  EXPECT_FALSE(run::modoDebug());
}

TEST(OcultarSenhas, BlanksThePasswordsAndNothingElse) {
  std::vector<std::string> valores{"c", "m", "uz", "senhaZ", "ut", "senhaT", "ip", "p", "uq", "senhaQ", "h"};
  std::vector<char*> argv;
  for (auto& v : valores) argv.push_back(v.data());
  run::ocultarSenhas(11, argv.data());
  for (int i : {3, 5, 9}) EXPECT_EQ(std::strlen(argv[i]), 0u) << i;
  for (int i : {1, 2, 4, 6, 7, 8, 10}) EXPECT_GT(std::strlen(argv[i]), 0u) << i;
}

TEST(NomeExibido, TurnsEveryDotSlashIntoOneSpace) {
  const std::pair<const char*, const char*> casos[] = {
      {"./coletor-pppoe", " coletor-pppoe"},
      {"/usr/local/bin/coletor-pppoe", "/usr/local/bin/coletor-pppoe"},
      {"/opt/./bin/./coletor", "/opt/ bin/ coletor"},
      {"../bin/coletor", ". bin/coletor"},
      {".../x", ".. x"},
      {"", ""},
  };
  for (const auto& [nome, esperado] : casos) EXPECT_EQ(run::nomeExibido(nome), esperado) << nome;
}

}  // namespace
