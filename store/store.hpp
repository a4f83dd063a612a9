// Upkeep of table pppoeClientes and the ingestion of one run's records.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "net/http.hpp"
#include "records/records.hpp"
#include "store/destination.hpp"
#include "store/ingestion.hpp"
#include "store/questdb_query.hpp"
#include "store/timestamps.hpp"

namespace store {

/// The definition of the table, byte for byte (460 characters, trailing spaces included).
extern const std::string_view tabelaPppoeClientes;
inline constexpr std::string_view SQL_TRUNCAR = "TRUNCATE TABLE pppoeClientes;";
inline constexpr std::string_view SQL_COLUNAS = "SHOW COLUMNS FROM pppoeClientes";
inline constexpr std::string_view SQL_DESCARTAR = "DROP TABLE pppoeClientes;";
inline constexpr std::string_view TABELA = "pppoeClientes";

/// True from 00:00:00 to 00:04:59.999999 local time, when the table is emptied first.
bool naJanelaDeTruncamento(const LeituraRelogio& leitura);

/// The destination of the command line's QuestDB host, port and credentials, or why the
/// host or port cannot be used (quoting neither). Either would otherwise change the meaning
/// of the ingestion's address; an empty host is left to fail request by request.
std::variant<DestinoQuestDb, std::string> lerDestino(std::string host, std::string_view porta,
                                                     net::Credentials credenciais);

/// Why the table cannot hold the record as it is, or nullopt. QuestDB refuses a whole
/// batch over one such row (a NUL byte or text that is not UTF-8 in a symbol, an INT out
/// of range), or stores a null in place of the value (the smallest INT and LONG).
std::optional<std::string> motivoForaDaTabela(const records::RegistroDescoberta& registro);

/// What one call stored.
struct Gravacao {
  bool aceita = false;             // false after an ingestion failure, whose "Erro: " line is on stderr
  std::size_t gravadas = 0;        // rows of the batch that QuestDB accepted
  std::size_t deixadasDeFora = 0;  // records the table cannot hold, each named by an "Aviso: " line
};

/// Looks after the table, then writes one row per record that the table can hold, with a
/// single flush. After an ingestion failure (not `aceita`) the run must end with exit
/// status 1 and without "OK". Other failures propagate.
Gravacao sendQuestDB(net::HttpClient& http, const DestinoQuestDb& questDb,
                     const records::ResultadoDescoberta& descobertaPPPoE, const Relogio& relogio = agoraSistema);

}  // namespace store
