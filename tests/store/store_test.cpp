#include "store/store.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <tuple>

#include "base/constants.hpp"
#include "base/deadline.hpp"
#include "tests/store/time_zone.hpp"
#include "tests/support/console_capture.hpp"
#include "tests/support/fake_http.hpp"

namespace {

using namespace std::chrono;
using records::RegistroDescoberta;
using records::ResultadoDescoberta;
using store::Instante;
using testing_support::ConsoleCapture;
using testing_support::FakeHttp;

const std::string TRUNCAR = "TRUNCATE TABLE pppoeClientes;";
const std::string COLUNAS = "SHOW COLUMNS FROM pppoeClientes";
const std::string DESCARTAR = "DROP TABLE pppoeClientes;";
const std::string CRIAR = "CREATE";  // stands for the whole definition in request lists
const std::string ESCRITA = "POST /write";

const char* const CONTAGEM_7 = R"({"query":"SHOW COLUMNS FROM pppoeClientes","columns":[],"dataset":[],"count":7})";
const char* const CONTAGEM_6 = R"({"query":"SHOW COLUMNS FROM pppoeClientes","count":6})";
const char* const AUSENTE =
    R"({"query":"SHOW COLUMNS FROM pppoeClientes","error":"table does not exist [table=pppoeClientes]","position":18})";
const char* const DDL_OK = R"({"ddl":"OK"})";
const char* const NAO_JSON = "<html><body>502 Bad Gateway</body></html>";

const std::string AVISO = "\x1b[0;93mO QuestDB se encontra com a tabela desatualizada, recriando tabela!\x1b[0;0m\n";
const std::string CRIACAO_OK = "Criacao Tabela: {\"ddl\": \"OK\"}\n";

// Local wall time on 2024-03-10 in a zone three hours behind UTC.
Instante local(int hora, int minuto, int segundo = 0, int micro = 0) {
  return Instante(sys_days(2024y / 3 / 10).time_since_epoch() + hours(hora + 3) + minutes(minuto) + seconds(segundo) +
                  microseconds(micro));
}
constexpr std::int64_t MEIO_DIA_E_TRES_US = 1710082980000000;  // 2024-03-10T15:03:00Z

const RegistroDescoberta ALFA{"Alfa Net", 1, 12, "Parceiro Sul", 345};
const RegistroDescoberta BETA{"Beta, Ltda", 1, 7, "P=2", std::nullopt};
const RegistroDescoberta GAMA{"Gama", 0, 3, "P=2", 0};

struct Output {
  bool armazenou = false;
  store::Gravacao gravacao;
  std::string out, err;
};

class SendQuestDB : public testing::Test {
 protected:
  void setDestination(const char* ip, int porta, const char* usuario, const char* senha) {
    questDb = {ip, porta, {usuario, senha}};
  }

  Output storeRecords(const ResultadoDescoberta& registros, Instante quando = local(12, 3)) {
    ConsoleCapture console;
    Output saida;
    try {
      saida.gravacao = store::sendQuestDB(*fake, questDb, registros, [quando] { return quando; });
      saida.armazenou = saida.gravacao.aceita;
    } catch (...) {
      falha = std::current_exception();
    }
    saida.out = console.out();
    saida.err = console.err();
    return saida;
  }

  // What was asked, in order: the SQL text (CREATE for the definition) or the write.
  std::vector<std::string> requestBodies() const {
    std::vector<std::string> lista;
    for (const auto& pedido : fake->requests()) {
      if (pedido.method == "POST") lista.push_back(ESCRITA);
      else if (pedido.query.at(0).second == store::tabelaPppoeClientes) lista.push_back(CRIAR);
      else lista.push_back(pedido.query.at(0).second);
    }
    return lista;
  }

  const net::HttpRequest& escrita() const { return fake->requests().back(); }

  store::DestinoQuestDb questDb{"10.1.2.3", 19443, {"admin", "quest"}};
  std::optional<FakeHttp> fake{std::in_place};
  std::exception_ptr falha;
  store_support::TimeZone zone{store_support::BRASILIA};
};

using Pedidos = std::vector<std::string>;

struct StoredLine {
  std::string semHora;
  std::int64_t hora = 0;
};

std::vector<StoredLine> linesOf(const std::string& corpo) {
  std::vector<StoredLine> linhas;
  std::istringstream entrada(corpo);
  for (std::string linha; std::getline(entrada, linha);) {
    const auto espaco = linha.rfind(' ');
    linhas.push_back({linha.substr(0, espaco), std::stoll(linha.substr(espaco + 1))});
  }
  return linhas;
}

std::string lineWithoutTime(const std::string& simbolos, const std::string& colunas, std::int64_t timestampUs) {
  return "pppoeClientes," + simbolos + " " + colunas + ",timestamp=" + std::to_string(timestampUs) +
         "t,timestampDummy=946684800000000t";
}

// ---- the statements themselves ----

TEST(TabelaPppoeClientes, IsTheDefinitionByteForByte) {
  const std::string linhas[] = {
      "",
      std::string(8, ' ') + "CREATE TABLE 'pppoeClientes' (",
      std::string(12, ' ') + "nome SYMBOL CAPACITY 8192 CACHE INDEX CAPACITY 256,",
      std::string(12, ' ') + "parceiro SYMBOL CAPACITY 512 CACHE,",
      std::string(12, ' ') + "numero INT,",
      std::string(12, ' ') + "status INT,",
      std::string(12, ' ') + "pppoe LONG," + std::string(31, ' '),
      std::string(12, ' ') + "timestamp TIMESTAMP,",
      std::string(12, ' ') + "timestampDummy TIMESTAMP",
      std::string(8, ' ') + ") timestamp (timestampDummy) PARTITION BY WEEK WAL",
      std::string(8, ' ') + "DEDUP UPSERT KEYS (timestampDummy, nome, numero, parceiro);",
      std::string(8, ' '),
  };
  std::string esperada = linhas[0];
  for (std::size_t i = 1; i < std::size(linhas); ++i) esperada += "\n" + linhas[i];
  EXPECT_EQ(store::tabelaPppoeClientes.size(), 460u);
  EXPECT_EQ(store::tabelaPppoeClientes, esperada);
}

// The destination as "host port user password", or the reason it was refused.
std::string asText(const std::variant<store::DestinoQuestDb, std::string>& lido) {
  if (const auto* motivo = std::get_if<std::string>(&lido)) return *motivo;
  const auto& destino = std::get<store::DestinoQuestDb>(lido);
  return destino.host + " " + std::to_string(destino.porta) + " " + destino.credenciais.user + " " +
         destino.credenciais.password;
}

TEST(LerDestino, RefusesWhatCouldChangeTheIngestionAddressAndQuotesNothing) {
  const char* const HOST = "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP";
  const char* const PORTA = "a porta do QuestDB (7º argumento) não é um número de 1 a 65535";
  const std::tuple<const char*, const char*, const char*> casos[] = {
      {"questdb.interno", "9000", "questdb.interno 9000 u p;w"},
      {"10.1.2.3", "1", "10.1.2.3 1 u p;w"},
      {"[fd00::1]", "65535", "[fd00::1] 65535 u p;w"},
      {"q_db-1.example", "443", "q_db-1.example 443 u p;w"},
      {"", "9000", " 9000 u p;w"},  // left to fail request by request
      {"h;username=x", "9000", HOST},
      {"h ", "9000", HOST},
      {"user@h", "9000", HOST},
      {"h/exec?", "9000", HOST},
      {"[::1;]", "9000", HOST},
      {"h", "9000;password=x", PORTA},
      {"h", "", PORTA},
      {"h", "0", PORTA},
      {"h", "65536", PORTA},
      {"h", " 9000", PORTA},
      {"h", "0009000", PORTA},
  };
  for (const auto& [host, porta, esperado] : casos) {
    EXPECT_EQ(asText(store::lerDestino(host, porta, {"u", "p;w"})), esperado) << host << ":" << porta;
  }
}

// ---- table current ----

TEST_F(SendQuestDB, CurrentTableGetsOnlyTheColumnQueryThenOneWriteOfAllRowsInOrder) {
  fake->respond(200, CONTAGEM_7).respond(204, "");
  const auto antes = store::nanosSistema();
  const Output saida = storeRecords({ALFA, BETA, GAMA});
  const auto depois = store::nanosSistema();
  EXPECT_TRUE(saida.armazenou);
  EXPECT_EQ(saida.out, "");
  EXPECT_EQ(saida.err, "");
  EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS, ESCRITA}));
  EXPECT_EQ(escrita().url, "https://10.1.2.3:19443/write");
  const auto linhas = linesOf(testing_support::wholeBody(escrita()));
  ASSERT_EQ(linhas.size(), 3u);
  EXPECT_EQ(linhas[0].semHora, lineWithoutTime("nome=Alfa\\ Net,parceiro=Parceiro\\ Sul",
                                               "numero=12i,status=1i,pppoe=345i", MEIO_DIA_E_TRES_US));
  EXPECT_EQ(linhas[1].semHora,
            lineWithoutTime("nome=Beta\\,\\ Ltda,parceiro=P\\=2", "numero=7i,status=1i", MEIO_DIA_E_TRES_US));
  EXPECT_EQ(linhas[2].semHora,
            lineWithoutTime("nome=Gama,parceiro=P\\=2", "numero=3i,status=0i,pppoe=0i", MEIO_DIA_E_TRES_US));
  EXPECT_GE(linhas[0].hora, antes);
  EXPECT_LE(linhas[0].hora, linhas[1].hora);
  EXPECT_LE(linhas[1].hora, linhas[2].hora);
  EXPECT_LE(linhas[2].hora, depois);
}

TEST_F(SendQuestDB, CurrentTableWithSevenOrMoreColumnsIsLeftAlone) {
  for (const char* resposta : {R"({"count":7})", R"({"count":8})", R"({"count":7.0})", R"({"count":100})"}) {
    fake->respond(200, resposta).respond(204, "");
    const Output saida = storeRecords({ALFA});
    EXPECT_EQ(saida.out, "") << resposta;
    EXPECT_TRUE(saida.armazenou) << resposta;
  }
  EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS, ESCRITA, COLUNAS, ESCRITA, COLUNAS, ESCRITA, COLUNAS, ESCRITA}));
}

TEST_F(SendQuestDB, EmptyListLooksAfterTheTableAndSendsNoRows) {
  fake->respond(200, AUSENTE).respond(200, DDL_OK);
  const Output saida = storeRecords({});
  EXPECT_TRUE(saida.armazenou);
  EXPECT_EQ(saida.out, CRIACAO_OK);
  EXPECT_EQ(saida.err, "");
  EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS, CRIAR}));
}

TEST_F(SendQuestDB, EveryStatementGoesToPort80OfTheHostWithTheCredentials) {
  setDestination("10.1.2.3", 19443, "ad;min", "qu;est");
  fake->respond(200, CONTAGEM_6).respond(200, DDL_OK).respond(200, DDL_OK).respond(204, "");
  storeRecords({ALFA}, local(0, 1));
  ASSERT_EQ(fake->requests().size(), 4u);
  for (std::size_t i = 0; i + 1 < fake->requests().size(); ++i) {
    const auto& pedido = fake->requests()[i];
    EXPECT_EQ(pedido.url, "http://10.1.2.3/exec");
    EXPECT_EQ(pedido.query.size(), 2u);
    EXPECT_EQ(pedido.query.at(0).first, "query");
    EXPECT_EQ(pedido.query.at(1), (std::pair<std::string, std::string>{"fmt", "json"}));
    EXPECT_EQ(pedido.basic->user, "ad;min");
    EXPECT_EQ(pedido.basic->password, "qu;est");
  }
  EXPECT_EQ(escrita().basic->user, "ad;min");
  EXPECT_EQ(escrita().basic->password, "qu;est");
}

// ---- what the table cannot hold ----

TEST_F(SendQuestDB, ARecordTheTableCannotHoldIsLeftOutAndNamedAndTheOthersAreStored) {
  constexpr auto LONG_NULO = std::numeric_limits<std::int64_t>::min();
  const std::string nul("A\0B", 3);
  const std::pair<RegistroDescoberta, std::string> casos[] = {
      {{nul, 1, 5, "P", 1}, "o cliente A\\u0000B (número 5) não foi gravado: o nome contém o caractere NUL"},
      {{"\x1b[31mTinto\\", 1, 5, std::string("P\0", 2), 1},
       "o cliente \\u001b[31mTinto\\\\ (número 5) não foi gravado: o parceiro contém o caractere NUL"},
      {{"Jo\xe3o\n", 1, 5, "P", 1}, "o cliente Jo\\xe3o\\u000a (número 5) não foi gravado: o nome não é texto UTF-8"},
      {{"A", 1, 5, "P\xc0\x80", 1}, "o cliente A (número 5) não foi gravado: o parceiro não é texto UTF-8"},
      {{"A", 1, 2147483648, "P", 1},
       "o cliente A (número 2147483648) não foi gravado: o número está fora de -2147483647 a 2147483647 (coluna INT)"},
      {{"A", 1, -2147483648, "P", 1},
       "o cliente A (número -2147483648) não foi gravado: o número está fora de -2147483647 a 2147483647 (coluna INT)"},
      {{"A", 1, 99999999999, "P", 1},
       "o cliente A (número 99999999999) não foi gravado: o número está fora de -2147483647 a 2147483647 (coluna INT)"},
      {{"A", 2147483648, 5, "P", 1},
       "o cliente A (número 5) não foi gravado: o status está fora de -2147483647 a 2147483647 (coluna INT)"},
      {{"A", 1, 5, "P", LONG_NULO},
       "o cliente A (número 5) não foi gravado: o PPPoE -9223372036854775808 é o nulo da coluna LONG"},
  };
  for (const auto& [registro, aviso] : casos) {
    fake.emplace();
    fake->respond(200, CONTAGEM_7).respond(204, "");
    const Output saida = storeRecords({ALFA, registro, GAMA});
    EXPECT_EQ(saida.err, "Aviso: " + aviso + "\n");
    EXPECT_EQ(saida.out, "") << aviso;
    EXPECT_EQ((std::tuple{saida.armazenou, saida.gravacao.gravadas, saida.gravacao.deixadasDeFora}),
              (std::tuple{true, 2u, 1u}))
        << aviso;
    const auto linhas = linesOf(testing_support::wholeBody(escrita()));
    ASSERT_EQ(linhas.size(), 2u) << aviso;
    EXPECT_TRUE(linhas[0].semHora.starts_with("pppoeClientes,nome=Alfa\\ Net,")) << aviso;
    EXPECT_TRUE(linhas[1].semHora.starts_with("pppoeClientes,nome=Gama,")) << aviso;
  }
}

TEST_F(SendQuestDB, TheEdgesOfWhatTheTableHoldsAreStoredAndABatchLeftOutWholeSendsNothing) {
  const ResultadoDescoberta cabem = {
      {"\x01\t\n\r\x7f\\ \xc2\x9b\xe2\x80\xae", 1, 2147483647, "", std::numeric_limits<std::int64_t>::max()},
      {std::string(1 << 20, 'x'), 0, -2147483647, "P\\", std::numeric_limits<std::int64_t>::min() + 1},
  };
  fake->respond(200, CONTAGEM_7).respond(204, "");
  Output saida = storeRecords(cabem);
  EXPECT_EQ((std::tuple{saida.err, saida.gravacao.gravadas, saida.gravacao.deixadasDeFora}), (std::tuple{"", 2u, 0u}));
  EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS, ESCRITA}));

  fake.emplace();
  fake->respond(200, CONTAGEM_7);
  saida = storeRecords({{"A", 1, 2147483648, "P", 1}});
  EXPECT_EQ((std::tuple{saida.armazenou, saida.gravacao.gravadas, saida.gravacao.deixadasDeFora}),
            (std::tuple{true, 0u, 1u}));
  EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS}));
}

// ---- the truncation window ----

TEST_F(SendQuestDB, TruncatesFirstOnlyInTheFiveMinutesAfterLocalMidnight) {
  struct Caso {
    const char* nome;
    Instante quando;
    bool trunca;
  };
  const Caso casos[] = {
      {"00:00:00", local(0, 0), true},
      {"00:02", local(0, 2), true},
      {"00:04:59.999999", local(0, 4, 59, 999999), true},
      {"00:05:00", local(0, 5), false},
      {"12:03", local(12, 3), false},
      {"23:59:59", local(23, 59, 59), false},
  };
  for (const auto& caso : casos) {
    fake.emplace();
    if (caso.trunca) fake->respond(200, DDL_OK);
    fake->respond(200, CONTAGEM_7).respond(204, "");
    storeRecords({ALFA}, caso.quando);
    const Pedidos esperados = caso.trunca ? Pedidos{TRUNCAR, COLUNAS, ESCRITA} : Pedidos{COLUNAS, ESCRITA};
    EXPECT_EQ(requestBodies(), esperados) << caso.nome;
  }
}

TEST_F(SendQuestDB, JudgesTheWindowLocallyButWritesTheTrueInstant) {
  fake->respond(200, DDL_OK).respond(200, CONTAGEM_7).respond(204, "");
  storeRecords({ALFA}, local(0, 2));
  EXPECT_EQ(requestBodies(), (Pedidos{TRUNCAR, COLUNAS, ESCRITA}));
  // 00:02 three hours behind UTC is 03:02 UTC.
  EXPECT_EQ(
      linesOf(testing_support::wholeBody(escrita())).at(0).semHora,
      lineWithoutTime("nome=Alfa\\ Net,parceiro=Parceiro\\ Sul", "numero=12i,status=1i,pppoe=345i", 1710039720000000));
}

// ---- table outdated ----

TEST_F(SendQuestDB, OutdatedTableIsDroppedAndRecreatedAfterTheYellowWarning) {
  using testing_support::Failure;
  using testing_support::response;
  struct Caso {
    const char* nome;
    std::vector<testing_support::Script> roteiro;
    std::string out;
    Pedidos esperados;
  };
  const Caso casos[] = {
      {"drop and creation answered",
       {response(200, DDL_OK), response(200, DDL_OK)},
       AVISO,
       {COLUNAS, DESCARTAR, CRIAR, ESCRITA}},
      {"drop not JSON: created once more",
       {response(200, NAO_JSON), response(200, DDL_OK)},
       AVISO + CRIACAO_OK,
       {COLUNAS, DESCARTAR, CRIAR, ESCRITA}},
      {"creation not JSON: created once more",
       {response(200, DDL_OK), response(200, NAO_JSON), response(200, DDL_OK)},
       AVISO + CRIACAO_OK,
       {COLUNAS, DESCARTAR, CRIAR, CRIAR, ESCRITA}},
      {"drop unreachable: still created",
       {Failure{"Recv failure: Connection reset by peer"}, response(200, DDL_OK)},
       AVISO + "Error: Recv failure: Connection reset by peer\n",
       {COLUNAS, DESCARTAR, CRIAR, ESCRITA}},
  };
  for (const auto& caso : casos) {
    fake.emplace();
    fake->respond(200, CONTAGEM_6);
    for (const auto& passo : caso.roteiro) fake->respond(passo);
    fake->respond(204, "");
    const Output saida = storeRecords({ALFA});
    EXPECT_EQ(saida.out, caso.out) << caso.nome;
    EXPECT_EQ(saida.err, "") << caso.nome;
    EXPECT_EQ(requestBodies(), caso.esperados) << caso.nome;
    EXPECT_TRUE(saida.armazenou) << caso.nome;
  }
}

// ---- table missing, or no usable count ----

TEST_F(SendQuestDB, MissingTableOrUnusableCountIsCreatedWithoutADrop) {
  const char* respostas[] = {
      AUSENTE,           "{}", "[]", R"("count")", "null", R"({"count":"7"})", R"({"count":null})", R"({"count":true})",
      R"({"count":[7]})"};
  for (const char* resposta : respostas) {
    fake.emplace();
    fake->respond(400, resposta).respond(200, DDL_OK).respond(204, "");
    const Output saida = storeRecords({ALFA});
    EXPECT_EQ(saida.out, CRIACAO_OK) << resposta;
    EXPECT_EQ(requestBodies(), (Pedidos{COLUNAS, CRIAR, ESCRITA})) << resposta;
    EXPECT_EQ(fake->requests().at(1).query.at(0).second, store::tabelaPppoeClientes);
    EXPECT_TRUE(saida.armazenou) << resposta;
  }
}

// ---- answers that are not JSON ----

TEST_F(SendQuestDB, AnswerThatIsNotJsonToTruncationColumnQueryOrLastCreationEndsTheCall) {
  struct Caso {
    const char* nome;
    Instante quando;
    std::vector<const char*> respostas;
    Pedidos esperados;
    std::string out;
  };
  const Caso casos[] = {
      {"truncation", local(0, 2), {NAO_JSON}, {TRUNCAR}, ""},
      {"column query", local(12, 3), {NAO_JSON}, {COLUNAS}, ""},
      {"creation after a failed check", local(12, 3), {AUSENTE, "Unauthorized\r\n"}, {COLUNAS, CRIAR}, ""},
      {"creation after a failed drop", local(12, 3), {CONTAGEM_6, "", ""}, {COLUNAS, DESCARTAR, CRIAR}, AVISO},
  };
  for (const auto& caso : casos) {
    fake.emplace();
    falha = nullptr;
    for (const char* resposta : caso.respostas) fake->respond(200, resposta);
    const Output saida = storeRecords({ALFA}, caso.quando);
    EXPECT_THROW(std::rethrow_exception(falha), net::JsonError) << caso.nome;
    EXPECT_EQ(requestBodies(), caso.esperados) << caso.nome;
    EXPECT_EQ(saida.out, caso.out) << caso.nome;
    EXPECT_EQ(saida.err, "") << caso.nome;
  }
}

// ---- transport failures ----

TEST_F(SendQuestDB, UnreachableServerAtMidnightPrintsEachFailureAndReportsTheIngestion) {
  const std::string recusado = "Failed to connect to 10.1.2.3 port 80 after 0 ms: Couldn't connect to server";
  const std::string recusadoTls = "Failed to connect to 10.1.2.3 port 19443 after 0 ms: Couldn't connect to server";
  fake->fail(recusado).fail(recusado).fail(recusado).fail(recusadoTls);
  const Output saida = storeRecords({ALFA}, local(0, 2));
  EXPECT_FALSE(saida.armazenou);
  EXPECT_EQ(saida.out,
            "Error: " + recusado + "\nError: " + recusado + "\nError: " + recusado + "\nCriacao Tabela: None\n");
  EXPECT_EQ(saida.err, "Erro: falha ao enviar as linhas para https://10.1.2.3:19443/write: " + recusadoTls + "\n");
  EXPECT_EQ(requestBodies(), (Pedidos{TRUNCAR, COLUNAS, CRIAR, ESCRITA}));
}

// ---- ingestion failures ----

TEST_F(SendQuestDB, RefusedRowsGiveTheErroLineOnStderrAndFalse) {
  fake->respond(200, CONTAGEM_7).respond(400, R"({"code":"invalid","message":"error in line 1: bad","line":1})");
  const Output saida = storeRecords({ALFA});
  EXPECT_FALSE(saida.armazenou);
  EXPECT_EQ(saida.out, "");
  EXPECT_EQ(saida.err, "Erro: o QuestDB recusou as linhas (HTTP 400): error in line 1: bad [linha 1]\n");
}

TEST_F(SendQuestDB, RunDeadlineDuringTheWriteIsNotReportedAsAnIngestionFailure) {
  struct ExpiraNaEscrita final : net::HttpClient {
    net::HttpResponse perform(const net::HttpRequest& pedido) override {
      if (pedido.method == "POST") throw base::TimeoutException(300);
      return {200, R"({"count":7})", {}};
    }
  } expira;
  ConsoleCapture console;
  EXPECT_THROW(store::sendQuestDB(expira, questDb, {ALFA}, [] { return local(12, 3); }), base::TimeoutException);
  EXPECT_EQ(console.err(), "");
}

TEST_F(SendQuestDB, RunDeadlineDuringTheColumnCheckIsNotTakenForAFailedCheck) {
  struct ExpiraNoDescarte final : net::HttpClient {
    net::HttpResponse perform(const net::HttpRequest& pedido) override {
      if (pedido.query.at(0).second == DESCARTAR) throw base::TimeoutException(300);
      return {200, R"({"count":6})", {}};
    }
  } expira;
  ConsoleCapture console;
  EXPECT_THROW(store::sendQuestDB(expira, questDb, {ALFA}, [] { return local(12, 3); }), base::TimeoutException);
  EXPECT_EQ(console.out(), AVISO);
}

}  // namespace
