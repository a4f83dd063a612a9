// Where one run's rows go: the QuestDB that both the SQL statements and the ingestion reach.
#pragma once

#include <string>

#include "net/http.hpp"

namespace store {

/// A checked QuestDB address with its credentials.
struct DestinoQuestDb {
  std::string host;  // SQL on port 80 of it, rows on `porta`
  int porta = 0;
  net::Credentials credenciais;
};

}  // namespace store
