// Against a real QuestDB (tests/peers/questdb.sh start), when COLETOR_QUESTDB_HOST says where.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <thread>

#include "store/store.hpp"
#include "tests/store/time_zone.hpp"
#include "tests/support/console_capture.hpp"

namespace {

using namespace std::chrono;
using net::Json;
using records::RegistroDescoberta;
using store::Instante;
using testing_support::ConsoleCapture;

std::string environmentOr(const char* nome, const char* padrao = "") {
  const char* valor = std::getenv(nome);
  return valor ? valor : padrao;
}

const std::string AVISO = "\x1b[0;93mO QuestDB se encontra com a tabela desatualizada, recriando tabela!\x1b[0;0m\n";
const std::string LEITURA =
    "SELECT nome, parceiro, numero, status, pppoe, timestamp, timestampDummy FROM pppoeClientes ORDER BY nome";
const char* const DUMMY = "2000-01-01T00:00:00.000000Z";

// Local wall time on 2024-03-10 in a zone three hours behind UTC.
Instante local(int hora, int minuto) {
  return Instante(sys_days(2024y / 3 / 10).time_since_epoch() + hours(hora + 3) + minutes(minuto));
}

Json linha(const RegistroDescoberta& r, const char* timestamp) {
  return Json::array(
      {r.cliente, r.parceiro, r.numero, r.status, r.pppoe ? Json(*r.pppoe) : Json(nullptr), timestamp, DUMMY});
}

struct Output {
  bool armazenou = false;
  std::string out, err;
};

// Sends the writes with a wrong password while the SQL statements keep the right one.
class WrongPasswordOnWrite final : public net::HttpClient {
 public:
  explicit WrongPasswordOnWrite(net::HttpClient& real) : real_(real) {}
  net::HttpResponse perform(const net::HttpRequest& pedido) override {
    if (pedido.method != "POST") return real_.perform(pedido);
    net::HttpRequest alterado = pedido;
    alterado.basic->password += "-errada";
    return real_.perform(alterado);
  }

 private:
  net::HttpClient& real_;
};

class QuestDbReal : public testing::Test {
 protected:
  void SetUp() override {
    if (questDb.host.empty()) GTEST_SKIP() << "COLETOR_QUESTDB_HOST not set";
    ASSERT_EQ(sql("DROP TABLE IF EXISTS pppoeClientes;"), Json::parse(R"({"ddl":"OK"})"));
  }

  Output executar(const records::ResultadoDescoberta& registros, Instante quando = local(12, 3),
                  net::HttpClient* cliente = nullptr) {
    ConsoleCapture console;
    Output saida;
    std::string excecao;
    try {
      saida.armazenou =
          store::sendQuestDB(cliente ? *cliente : http, questDb, registros, [quando] { return quando; }).aceita;
    } catch (const std::exception& e) {
      excecao = std::string("exception: ") + e.what();
    }
    saida.out = console.out();
    saida.err = console.err() + excecao;
    return saida;
  }

  Json sql(const std::string& consulta) { return store::consultarQuestDb(http, questDb, consulta); }

  // Rows show up shortly after the write is acknowledged; wait a bounded time for them.
  // The proxy in front must not pool its connections to QuestDB: 9.3.4 answers 204 and
  // drops the rows written on a connection that wrote to the table before it was
  // dropped and created again.
  Json awaitRows(const Json& esperadas) {
    Json lidas;
    for (int tentativa = 0; tentativa < 300; ++tentativa) {
      lidas = sql(LEITURA).value("dataset", Json::array());
      if (lidas == esperadas) break;
      std::this_thread::sleep_for(100ms);
    }
    return lidas;
  }

  const store::DestinoQuestDb questDb{
      environmentOr("COLETOR_QUESTDB_HOST"),
      std::stoi(environmentOr("COLETOR_QUESTDB_PORT", "19443")),
      {environmentOr("COLETOR_QUESTDB_USER", "admin"), environmentOr("COLETOR_QUESTDB_PASS", "quest")}};
  net::CurlClient http{environmentOr("COLETOR_QUESTDB_CA")};
  store_support::TimeZone zone{store_support::BRASILIA};
};

const RegistroDescoberta ALFA{"Alfa Net", 1, 12, "Parceiro Sul", 345};
const RegistroDescoberta BETA{"Beta, Ltda \"B\" = Ação\\Sul", 1, 7, "P=2", std::nullopt};
const RegistroDescoberta GAMA{"Gama", 0, 3, "P=2", 0};

TEST_F(QuestDbReal, MissingTableIsCreatedAndTheCreationLineShowsTheAnswer) {
  const Output saida = executar({ALFA});
  EXPECT_EQ(saida.out, "Criacao Tabela: {\"ddl\": \"OK\"}\n");
  EXPECT_EQ(saida.err, "");
  EXPECT_TRUE(saida.armazenou);
  EXPECT_EQ(sql("SHOW COLUMNS FROM pppoeClientes").value("count", 0), 7);
  const Json esperadas = Json::array({linha(ALFA, "2024-03-10T15:03:00.000000Z")});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
}

TEST_F(QuestDbReal, TableWithFewerColumnsIsDroppedAndRecreated) {
  EXPECT_EQ(sql("CREATE TABLE pppoeClientes (nome SYMBOL, numero INT, timestampDummy TIMESTAMP) "
                "timestamp(timestampDummy) PARTITION BY DAY WAL;"),
            Json::parse(R"({"ddl":"OK"})"));
  const Output saida = executar({GAMA});
  EXPECT_EQ(saida.out, AVISO);
  EXPECT_EQ(saida.err, "");
  EXPECT_TRUE(saida.armazenou);
  EXPECT_EQ(sql("SHOW COLUMNS FROM pppoeClientes").value("count", 0), 7);
  const Json esperadas = Json::array({linha(GAMA, "2024-03-10T15:03:00.000000Z")});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
}

TEST_F(QuestDbReal, RowsReadBackHoldTheValuesSentWithNullPppoeAsNull) {
  const Output saida = executar({GAMA, ALFA, BETA}, local(12, 3));
  EXPECT_TRUE(saida.armazenou) << saida.err;
  const Json esperadas =
      Json::array({linha(ALFA, "2024-03-10T15:03:00.000000Z"), linha(BETA, "2024-03-10T15:03:00.000000Z"),
                   linha(GAMA, "2024-03-10T15:03:00.000000Z")});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
}

TEST_F(QuestDbReal, CurrentTableIsLeftAloneOutsideTheWindowAndEmptiedAtLocalMidnight) {
  executar({ALFA}, local(12, 3));
  const Json primeira = Json::array({linha(ALFA, "2024-03-10T15:03:00.000000Z")});
  ASSERT_EQ(awaitRows(primeira), primeira);

  const Output fora = executar({GAMA}, local(23, 59));
  EXPECT_EQ(fora.out, "");
  const Json ambas =
      Json::array({linha(ALFA, "2024-03-10T15:03:00.000000Z"), linha(GAMA, "2024-03-11T02:59:00.000000Z")});
  ASSERT_EQ(awaitRows(ambas), ambas);

  const Output meiaNoite = executar({BETA}, local(0, 2));
  EXPECT_EQ(meiaNoite.out, "");
  EXPECT_TRUE(meiaNoite.armazenou) << meiaNoite.err;
  const Json so = Json::array({linha(BETA, "2024-03-10T03:02:00.000000Z")});
  EXPECT_EQ(awaitRows(so), so);
}

TEST_F(QuestDbReal, TwoRunsLeaveOneRowPerCustomerWithTheSecondRunsValues) {
  executar({ALFA, GAMA, BETA}, local(12, 3));
  RegistroDescoberta alfa2 = ALFA, beta2 = BETA, gama2 = GAMA;
  alfa2.pppoe.reset();
  beta2.pppoe = 9;
  gama2.status = 1;
  gama2.pppoe = 77;
  const Output segunda = executar({beta2, alfa2, gama2}, local(12, 8));
  EXPECT_TRUE(segunda.armazenou) << segunda.err;
  const Json esperadas =
      Json::array({linha(alfa2, "2024-03-10T15:08:00.000000Z"), linha(beta2, "2024-03-10T15:08:00.000000Z"),
                   linha(gama2, "2024-03-10T15:08:00.000000Z")});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
}

// What a retry after a lost answer does: the same batch lands twice, and is stored once.
TEST_F(QuestDbReal, ABatchThatLandsTwiceIsStoredOnce) {
  struct EscritaEmDobro final : net::HttpClient {
    explicit EscritaEmDobro(net::HttpClient& real) : real(real) {}
    net::HttpResponse perform(const net::HttpRequest& pedido) override {
      if (pedido.method == "POST") real.perform(pedido);
      return real.perform(pedido);
    }
    net::HttpClient& real;
  } emDobro(http);
  const Output saida = executar({ALFA, GAMA, BETA}, local(12, 3), &emDobro);
  EXPECT_TRUE(saida.armazenou) << saida.err;
  const Json esperadas =
      Json::array({linha(ALFA, "2024-03-10T15:03:00.000000Z"), linha(BETA, "2024-03-10T15:03:00.000000Z"),
                   linha(GAMA, "2024-03-10T15:03:00.000000Z")});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
  std::this_thread::sleep_for(500ms);  // a second copy would show up by now
  EXPECT_EQ(sql("SELECT count() FROM pppoeClientes").value("dataset", Json()), Json::parse("[[3]]"));
}

TEST_F(QuestDbReal, WrongPasswordOnTheWriteGivesTheErroLineAndFalse) {
  WrongPasswordOnWrite senhaErrada(http);
  const Output saida = executar({ALFA}, local(12, 3), &senhaErrada);
  EXPECT_FALSE(saida.armazenou);
  EXPECT_EQ(saida.err, "Erro: o QuestDB recusou as linhas (HTTP 401): Unauthorized\n");
}

// Our own check lets through what the table holds; a table of another make refuses it.
TEST_F(QuestDbReal, RowsTheServerRefusesGiveTheErroLineWithItsMessage) {
  ASSERT_EQ(sql("CREATE TABLE pppoeClientes (nome SYMBOL, parceiro SYMBOL, numero SHORT, status INT, pppoe LONG, "
                "timestamp TIMESTAMP, timestampDummy TIMESTAMP) timestamp(timestampDummy) PARTITION BY WEEK WAL;"),
            Json::parse(R"({"ddl":"OK"})"));
  RegistroDescoberta grande = ALFA;
  grande.numero = 40000;  // beyond SHORT
  const Output saida = executar({GAMA, grande});
  EXPECT_FALSE(saida.armazenou);
  EXPECT_EQ(
      saida.err,
      "Erro: o QuestDB recusou as linhas (HTTP 400): failed to parse line protocol:errors encountered on line(s): "
      "error in line 2: table: pppoeClientes, column: numero; line protocol value: 40000 is out bounds of "
      "column type: SHORT [linha 2]\n");
}

// Each of these alone made QuestDB refuse the whole batch, or store a null for its value.
TEST_F(QuestDbReal, ABatchWithRecordsTheTableCannotHoldStoresExactlyTheOthers) {
  const auto longMinimo = std::numeric_limits<std::int64_t>::min();
  const records::ResultadoDescoberta foraDaTabela = {
      {std::string("Nul\0Nome", 8), 1, 20, "P", 1},
      {"Nul Parceiro", 1, 21, std::string("P\0", 2), 1},
      {"Grande", 1, 2147483648, "P", 1},
      {"Nulo INT", 1, -2147483648, "P", 1},
      {"Onze", 1, 99999999999, "P", 1},
      {"Nulo LONG", 1, 22, "P", longMinimo},
      {"Latin1 Jo\xe3o", 1, 23, "P", 1},
  };
  // Right at the edges of what the table holds.
  const records::ResultadoDescoberta cabem = {
      {"Controles \x01\t\n\r\x1b[0m\x7f \xc2\x9b \\ fim\\", 1, 2147483647, "",
       std::numeric_limits<std::int64_t>::max()},
      {std::string(100000, 'x'), 0, -2147483647, "P\\,= ", longMinimo + 1},
  };
  records::ResultadoDescoberta lote = {ALFA};
  lote.insert(lote.end(), foraDaTabela.begin(), foraDaTabela.end());
  lote.insert(lote.end(), cabem.begin(), cabem.end());
  lote.push_back(GAMA);
  const Output saida = executar(lote);
  EXPECT_TRUE(saida.armazenou) << saida.err;
  EXPECT_EQ(std::count(saida.err.begin(), saida.err.end(), '\n'), 7) << saida.err;
  const char* const HORA = "2024-03-10T15:03:00.000000Z";
  const Json esperadas =
      Json::array({linha(ALFA, HORA), linha(cabem[0], HORA), linha(GAMA, HORA), linha(cabem[1], HORA)});
  EXPECT_EQ(awaitRows(esperadas), esperadas);
}

}  // namespace
