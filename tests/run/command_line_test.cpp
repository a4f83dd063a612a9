#include "run/command_line.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "registry/registry.hpp"
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
  EXPECT_TRUE(lida->argumentos.empty());
  EXPECT_FALSE(lida->configuracao);
}

TEST(LerLinhaComando, TakesTheFullFormInItsPositions) {
  auto argv = argumentos({"./c", "m", "uz", "sz", "ut", "st", "ip", "9009", "uq", "sq", "debug"});
  auto lida = run::lerLinhaComando(11, argv.data());
  ASSERT_TRUE(lida && lida->configuracao);
  EXPECT_EQ(lida->nomeInvocacao, "./c");
  EXPECT_EQ(lida->argumentos, (std::vector<std::string>{"uz", "sz", "ut", "st", "ip", "9009", "uq", "sq", "debug"}));
  const auto& c = *lida->configuracao;
  EXPECT_EQ(std::tie(c.zabbix.user, c.zabbix.password), std::tie("uz", "sz"));
  const auto compilada = registry::contaCompilada();  // the registry pair is accepted, never used
  EXPECT_EQ(std::tie(c.contaRegistro.login, c.contaRegistro.senha), std::tie(compilada.login, compilada.senha));
  const auto& questDb = std::get<store::DestinoQuestDb>(c.questDb);
  EXPECT_EQ(std::make_tuple(questDb.host, questDb.porta, questDb.credenciais.user, questDb.credenciais.password),
            std::make_tuple("ip", 9009, "uq", "sq"));
  EXPECT_TRUE(c.modoDebug);
}

TEST(LerLinhaComando, KeepsWhyTheQuestDbPortCannotBeUsedForTheRunToRefuse) {
  auto argv = argumentos({"./c", "m", "uz", "sz", "ut", "st", "ip", "port", "uq", "sq", "debug"});
  const auto lida = run::lerLinhaComando(11, argv.data());
  ASSERT_TRUE(lida && lida->configuracao);
  EXPECT_EQ(std::get<std::string>(lida->configuracao->questDb),
            "a porta do QuestDB (7º argumento) não é um número de 1 a 65535");
}

TEST(LerLinhaComando, DebugModeIsOnOnlyForTheExactWord) {
  const std::pair<const char*, bool> casos[] = {
      {"debug", true}, {"Debug", false}, {"debug ", false}, {"", false}, {"DEBUG", false}};
  for (const auto& [ultimo, ligado] : casos) {
    auto argv = argumentos({"c", "m", "", "", "", "", "", "", "", "", ultimo});
    EXPECT_EQ(run::lerLinhaComando(11, argv.data())->configuracao->modoDebug, ligado) << '"' << ultimo << '"';
  }
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
