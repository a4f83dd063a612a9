#include "store/store.hpp"

#include <algorithm>
#include <cctype>
#include <limits>

#include "base/console.hpp"
#include "base/constants.hpp"
#include "base/deadline.hpp"
#include "base/text.hpp"

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
constexpr const char* HOST_INVALIDO = "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP";
constexpr const char* PORTA_INVALIDA = "a porta do QuestDB (7º argumento) não é um número de 1 a 65535";
constexpr std::int64_t MAIOR_INT = 2147483647;  // INT holds ±2147483647; -2147483648 is its null
constexpr std::int64_t NULO_LONG = std::numeric_limits<std::int64_t>::min();

bool soDigitos(std::string_view texto) {
  return !texto.empty() && std::all_of(texto.begin(), texto.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A host name, an IPv4 address or a bracketed IPv6 address: nothing that could change the
// meaning of a URL.
bool hostValido(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return std::all_of(host.begin() + 1, host.end() - 1,
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
  }
  return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

// A port from 1 to 65535 written in plain digits.
std::optional<int> lerPorta(std::string_view texto) {
  if (!soDigitos(texto) || texto.size() > 5) return std::nullopt;
  const int porta = std::stoi(std::string(texto));
  if (porta < 1 || porta > 65535) return std::nullopt;
  return porta;
}

std::string emTexto(const net::Json& resposta) { return resposta.is_null() ? "None" : net::serialize(resposta); }

net::Json consultar(net::HttpClient& http, const DestinoQuestDb& questDb, std::string_view sql) {
  return consultarQuestDb(http, questDb, std::string(sql));
}

// Only a number can be compared with 7; anything else means the check failed.
bool tabelaDesatualizada(const net::Json& dadosTabela) {
  const net::Json& contagemColunas = dadosTabela.at("count");
  if (!contagemColunas.is_number()) throw std::invalid_argument("count não numérico");
  return contagemColunas < COLUNAS_ATUAIS;
}

// False when the check failed in any way (no usable count, a drop or creation answer
// that is not JSON): the table is then created without a drop.
bool verificarColunas(net::HttpClient& http, const DestinoQuestDb& questDb, const net::Json& dadosTabela) {
  try {
    if (tabelaDesatualizada(dadosTabela)) {
      base::console::line(std::string(base::YELLOW) +
                          "O QuestDB se encontra com a tabela desatualizada, recriando tabela!" +
                          std::string(base::RESET));
      consultar(http, questDb, SQL_DESCARTAR);
      consultar(http, questDb, tabelaPppoeClientes);
    }
    return true;
  } catch (const base::TimeoutException&) {
    throw;
  } catch (...) {
    return false;
  }
}

void criarTabela(net::HttpClient& http, const DestinoQuestDb& questDb) {
  const net::Json criacaoTabela = consultar(http, questDb, tabelaPppoeClientes);
  base::console::line("Criacao Tabela: " + emTexto(criacaoTabela));
}

Simbolos simbolosDe(const records::RegistroDescoberta& dadosCliente) {
  return {{"nome", dadosCliente.cliente}, {"parceiro", dadosCliente.parceiro}};
}

Colunas colunasDe(const records::RegistroDescoberta& dadosCliente, const LeituraRelogio& timestamp) {
  const ValorColuna pppoe = dadosCliente.pppoe ? ValorColuna(*dadosCliente.pppoe) : ValorColuna();
  return {{"numero", dadosCliente.numero},
          {"status", dadosCliente.status},
          {"pppoe", pppoe},
          {"timestamp", TimestampMicros{timestamp.epochMicros()}},
          {"timestampDummy", TimestampMicros{TIMESTAMP_DUMMY_US}}};
}

std::optional<std::string> simboloInvalido(std::string_view valor, const std::string& oQue) {
  if (valor.find('\0') != std::string_view::npos) return oQue + " contém o caractere NUL";
  if (!base::isUtf8(valor)) return oQue + " não é texto UTF-8";
  return std::nullopt;
}

std::optional<std::string> foraDoInt(std::int64_t valor, const std::string& oQue) {
  if (valor >= -MAIOR_INT && valor <= MAIOR_INT) return std::nullopt;
  return oQue + " está fora de -2147483647 a 2147483647 (coluna INT)";
}

std::string avisoForaDaTabela(const records::RegistroDescoberta& dadosCliente, const std::string& motivo) {
  return "Aviso: o cliente " + base::printable(dadosCliente.cliente) + " (número " +
         std::to_string(dadosCliente.numero) + ") não foi gravado: " + motivo;
}

Gravacao ingerir(net::HttpClient& http, const DestinoQuestDb& questDb, const records::ResultadoDescoberta& registros,
                 const LeituraRelogio& timestamp) {
  Gravacao gravacao;
  try {
    Sender sender(http, questDb);
    for (const auto& dadosCliente : registros) {
      // One row the server cannot take would cost every other row of the batch.
      if (const auto motivo = motivoForaDaTabela(dadosCliente)) {
        base::console::warningLine(avisoForaDaTabela(dadosCliente, *motivo));
        ++gravacao.deixadasDeFora;
        continue;
      }
      sender.row(TABELA, simbolosDe(dadosCliente), colunasDe(dadosCliente, timestamp), sender.now());
    }
    sender.flush();
    sender.close();
    gravacao.aceita = true;
    gravacao.gravadas = registros.size() - gravacao.deixadasDeFora;
  } catch (const IngressError& e) {
    base::console::errorLine("Erro: " + std::string(e.what()));
  }
  return gravacao;
}

}  // namespace

std::variant<DestinoQuestDb, std::string> lerDestino(std::string host, std::string_view porta,
                                                     net::Credentials credenciais) {
  if (!host.empty() && !hostValido(host)) return HOST_INVALIDO;
  const auto numero = lerPorta(porta);
  if (!numero) return PORTA_INVALIDA;
  return DestinoQuestDb{std::move(host), *numero, std::move(credenciais)};
}

std::optional<std::string> motivoForaDaTabela(const records::RegistroDescoberta& registro) {
  if (auto motivo = simboloInvalido(registro.cliente, "o nome")) return motivo;
  if (auto motivo = simboloInvalido(registro.parceiro, "o parceiro")) return motivo;
  if (auto motivo = foraDoInt(registro.numero, "o número")) return motivo;
  if (auto motivo = foraDoInt(registro.status, "o status")) return motivo;
  if (registro.pppoe == NULO_LONG) return "o PPPoE -9223372036854775808 é o nulo da coluna LONG";
  return std::nullopt;
}

bool naJanelaDeTruncamento(const LeituraRelogio& leitura) { return leitura.horaLocal == 0 && leitura.minutoLocal < 5; }

Gravacao sendQuestDB(net::HttpClient& http, const DestinoQuestDb& questDb,
                     const records::ResultadoDescoberta& descobertaPPPoE, const Relogio& relogio) {
  const LeituraRelogio timestamp = lerRelogio(relogio());
  if (naJanelaDeTruncamento(timestamp)) consultar(http, questDb, SQL_TRUNCAR);
  const net::Json dadosTabela = consultar(http, questDb, SQL_COLUNAS);
  if (!verificarColunas(http, questDb, dadosTabela)) criarTabela(http, questDb);
  return ingerir(http, questDb, descobertaPPPoE, timestamp);
}

}  // namespace store
