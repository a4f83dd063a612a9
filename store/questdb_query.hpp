// SQL statements over QuestDB's HTTP query endpoint.
#pragma once

#include <string>

#include "net/http.hpp"
#include "net/json.hpp"
#include "store/destination.hpp"

namespace store {

/// Runs one statement through GET http://<host>/exec with the credentials and returns the
/// decoded answer, whatever its status. A transport failure prints "Error: " + its message
/// and gives null; a body that is not JSON throws net::JsonError naming the answer's status.
net::Json consultarQuestDb(net::HttpClient& http, const DestinoQuestDb& questDb, const std::string& sqlQuery);

}  // namespace store
