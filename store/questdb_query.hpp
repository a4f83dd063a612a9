// SQL statements over QuestDB's HTTP query endpoint.
#pragma once

#include <string>

#include "net/http.hpp"
#include "net/json.hpp"

namespace store {

/// Where the rows go and with which credentials, as the command line gives them.
struct AcessoQuestDb {
  std::string host;   // SQL on port 80 of it, rows on `porta`
  std::string porta;  // text: checked before use
  std::string usuario;
  std::string senha;
};

/// Runs one statement through GET http://<host>/exec with the credentials and returns the
/// decoded answer, whatever its status. A transport failure prints "Error: " + its message
/// and gives null; a body that is not JSON throws net::JsonError naming the answer's status.
net::Json consultarQuestDb(net::HttpClient& http, const AcessoQuestDb& questDb, const std::string& sqlQuery);

}  // namespace store
