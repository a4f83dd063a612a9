#include "run/conf_file.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string NOVE =
    "ZABBIX_USER=Admin\nZABBIX_PASSWORD= s3nha '$x' \\n #\nREGISTRY_USER=u\nREGISTRY_PASSWORD=p\n"
    "QUESTDB_HOST=q\nQUESTDB_PORT=9000\nQUESTDB_USER=admin\nQUESTDB_PASSWORD=a=b\nDEBUG_SWITCH=normal\n";

TEST(LerTextoConfiguracao, TakesTheNineValuesLiterallyAndTheOptionalOnes) {
  const auto arquivo = run::lerTextoConfiguracao(
      "# comentário\n\n   \t# recuado\n" + NOVE + "no_proxy=\nCOLLECTOR_ACCOUNT_LOGIN=c\nCOLLECTOR_ACCOUNT_PASSWORD=d",
      "/c");
  EXPECT_EQ(arquivo.argumentos,
            (std::vector<std::string>{"Admin", " s3nha '$x' \\n #", "u", "p", "q", "9000", "admin", "a=b", "normal"}));
  ASSERT_TRUE(arquivo.conta);
  EXPECT_EQ(std::tie(arquivo.conta->login, arquivo.conta->senha), std::tie("c", "d"));
  EXPECT_EQ(arquivo.ambiente, (std::vector<std::pair<std::string, std::string>>{{"no_proxy", ""}}));
  EXPECT_FALSE(run::lerTextoConfiguracao(NOVE, "/c").conta);
}

TEST(LerTextoConfiguracao, RefusesWhatTheFileCannotMeanWithOneLineNamingFileAndLine) {
  const std::pair<std::string, const char*> casos[] = {
      {"\xEF\xBB\xBF" + NOVE, "/c:1: marca de ordem de bytes no início do arquivo (salvo como UTF-8 com BOM?)"},
      {"# a\nZABBIX_USER=Admin\r\n", "/c:2: retorno de carro na linha (salvo com finais de linha do DOS?)"},
      {NOVE + std::string("X=\0", 3), "/c:10: byte nulo na linha"},
      {NOVE + "ZABBIX_USER Admin", "/c:10: a linha não é NOME=valor"},
      {NOVE + " no_proxy=x", "/c:10: a linha não é NOME=valor"},
      {NOVE + "REGISTRY_LOGIN=x", "/c:10: nome desconhecido REGISTRY_LOGIN"},
      {NOVE + "QUESTDB_HOST=outro", "/c:10: QUESTDB_HOST repetido (já na linha 5)"},
      {NOVE.substr(NOVE.find("REGISTRY_USER")), "/c: falta ZABBIX_USER"},
      {"ZABBIX_USER=\n" + NOVE.substr(NOVE.find('\n') + 1), "/c:1: ZABBIX_USER vazio"},
      {NOVE + "COLLECTOR_ACCOUNT_LOGIN=c", "/c: falta COLLECTOR_ACCOUNT_PASSWORD"},
      {NOVE + "COLLECTOR_ACCOUNT_LOGIN=c\nCOLLECTOR_ACCOUNT_PASSWORD=", "/c:11: COLLECTOR_ACCOUNT_PASSWORD vazio"},
  };
  for (const auto& [texto, mensagem] : casos) {
    try {
      run::lerTextoConfiguracao(texto, "/c");
      ADD_FAILURE() << "accepted: " << mensagem;
    } catch (const run::ConfiguracaoInvalida& e) {
      EXPECT_STREQ(e.what(), mensagem);
    }
  }
}

}  // namespace
