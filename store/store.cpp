#include "store/store.hpp"

#include "run/console.hpp"
#include "run/constants.hpp"
#include "run/process_control.hpp"
#include "run/settings.hpp"

namespace store {

const std::string_view tabelaPppoeClientes =
    "\n"
    "        CREATE TABLE 'pppoeClientes' (\n"
    "            nome SYMBOL CAPACITY 8192 CACHE INDEX CAPACITY 256,\n"
    "            parceiro SYMBOL CAPACITY 512 CACHE,\n"
    "            numero INT,\n"
    "            status INT,\n"
    "            pppoe LONG,                               \n"
    "            timestamp TIMESTAMP,\n"
    "            timestampDummy TIMESTAMP\n"
    "        ) timestamp (timestampDummy) PARTITION BY WEEK WAL\n"
    "        DEDUP UPSERT KEYS (timestampDummy, nome, numero, parceiro);\n"
    "        ";

namespace {

constexpr int COLUNAS_ATUAIS = 7;

std::string dobrarPontoEVirgula(const std::string& texto) {
  std::string saida;
  for (const char c : texto) {
    saida.push_back(c);
    if (c == ';') saida.push_back(';');
  }
  return saida;
}

std::string emTexto(const net::Json& resposta) { return resposta.is_null() ? "None" : net::serializar(resposta); }

net::Json consultar(net::HttpClient& http, const std::string& ip, std::string_view sql) {
  return consultarQuestDb(http, ip, std::string(sql));
}

// Only a number can be compared with 7; anything else means the check failed.
bool tabelaDesatualizada(const net::Json& dadosTabela) {
  const net::Json& contagemColunas = dadosTabela.at("count");
  if (!contagemColunas.is_number()) throw std::invalid_argument("count não numérico");
  return contagemColunas < COLUNAS_ATUAIS;
}

// False when the check failed in any way (no usable count, a drop or creation answer
// that is not JSON): the table is then created without a drop.
bool verificarColunas(net::HttpClient& http, const std::string& ip, const net::Json& dadosTabela) {
  try {
    if (tabelaDesatualizada(dadosTabela)) {
      run::console::linha(std::string(run::YELLOW) +
                          "O QuestDB se encontra com a tabela desatualizada, recriando tabela!" +
                          std::string(run::RESET));
      consultar(http, ip, SQL_DESCARTAR);
      consultar(http, ip, tabelaPppoeClientes);
    }
    return true;
  } catch (const run::TimeoutException&) {
    throw;
  } catch (...) {
    return false;
  }
}

void criarTabela(net::HttpClient& http, const std::string& ip) {
  const net::Json criacaoTabela = consultar(http, ip, tabelaPppoeClientes);
  run::console::linha("Criacao Tabela: " + emTexto(criacaoTabela));
}

Simbolos simbolosDe(const discovery::RegistroDescoberta& dadosCliente) {
  return {{"nome", dadosCliente.cliente}, {"parceiro", dadosCliente.parceiro}};
}

Colunas colunasDe(const discovery::RegistroDescoberta& dadosCliente, const LeituraRelogio& timestamp) {
  const ValorColuna pppoe = dadosCliente.pppoe ? ValorColuna(*dadosCliente.pppoe) : ValorColuna();
  return {{"numero", dadosCliente.numero},
          {"status", dadosCliente.status},
          {"pppoe", pppoe},
          {"timestamp", TimestampMicros{timestamp.epochMicros()}},
          {"timestampDummy", TimestampMicros{TIMESTAMP_DUMMY_US}}};
}

bool ingerir(net::HttpClient& http, const std::string& conf, const discovery::ResultadoDescoberta& registros,
             const LeituraRelogio& timestamp) {
  try {
    Sender sender = Sender::from_conf(http, conf);
    for (const auto& dadosCliente : registros) {
      sender.row(TABELA, simbolosDe(dadosCliente), colunasDe(dadosCliente, timestamp), sender.now());
    }
    sender.flush();
    sender.close();
    return true;
  } catch (const IngressError& e) {
    run::console::linhaErro("Erro: " + std::string(e.what()));
    return false;
  }
}

}  // namespace

std::optional<std::string> enderecoInvalido(const std::string& host, const std::string& porta) {
  if (!host.empty() && !hostValido(host)) {
    return "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP";
  }
  if (!lerPorta(porta)) return "a porta do QuestDB (7º argumento) não é um número de 1 a 65535";
  return std::nullopt;
}

bool naJanelaDeTruncamento(const LeituraRelogio& leitura) { return leitura.horaLocal == 0 && leitura.minutoLocal < 5; }

std::string montarConf(const std::string& ip, const std::string& porta, const std::string& usuario,
                       const std::string& senha) {
  return "https::addr=" + ip + ":" + porta + ";username=" + dobrarPontoEVirgula(usuario) +
         ";password=" + dobrarPontoEVirgula(senha) + ";";
}

bool sendQuestDB(net::HttpClient& http, const discovery::ResultadoDescoberta& descobertaPPPoE,
                 const Relogio& relogio) {
  const LeituraRelogio timestamp = lerRelogio(relogio());
  const auto& s = run::settings();
  const std::string& ip = run::exigir(s.questDbIp, "questDbIp");
  if (naJanelaDeTruncamento(timestamp)) consultar(http, ip, SQL_TRUNCAR);
  const net::Json dadosTabela = consultar(http, ip, SQL_COLUNAS);
  if (!verificarColunas(http, ip, dadosTabela)) criarTabela(http, ip);
  const std::string conf = montarConf(ip, run::exigir(s.questDbPort, "questDbPort"),
                                      run::exigir(s.questDbUser, "questDbUser"),
                                      run::exigir(s.questDbPass, "questDbPass"));
  return ingerir(http, conf, descobertaPPPoE, timestamp);
}

}  // namespace store
