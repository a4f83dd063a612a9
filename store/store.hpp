// Upkeep of table pppoeClientes and the ingestion of one run's records.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "records/records.hpp"
#include "net/http.hpp"
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

/// Why the QuestDB host or port cannot be used, or nullopt. Either would otherwise change
/// the meaning of the ingestion's address; an empty host is left to fail request by request.
std::optional<std::string> enderecoInvalido(const AcessoQuestDb& questDb);

/// Looks after the table, then writes one row per record with a single flush. Returns
/// false after an ingestion failure, whose "Erro: " line is already on stderr: the run
/// must then end with exit status 1 and without "OK". Other failures propagate.
bool sendQuestDB(net::HttpClient& http, const AcessoQuestDb& questDb,
                 const records::ResultadoDescoberta& descobertaPPPoE, const Relogio& relogio = agoraSistema);

}  // namespace store
