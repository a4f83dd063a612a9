// SQL statements over QuestDB's HTTP query endpoint.
#pragma once

#include <string>

#include "net/http.hpp"
#include "net/json.hpp"

namespace store {

/// Runs one statement through GET http://<questDbIp>/exec and returns the decoded answer,
/// whatever its status. A transport failure prints "Error: " + its message and gives null;
/// a body that is not JSON throws net::JsonDecodeError.
net::Json consultarQuestDb(net::HttpClient& http, const std::string& questDbIp, const std::string& sqlQuery);

}  // namespace store
