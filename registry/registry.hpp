// The maker's customer registry: the login with our fixed account and the customer list.
#pragma once

#include <stdexcept>
#include <string>

#include "net/http.hpp"
#include "net/json.hpp"

namespace registry {

/// The registry answered the login with JSON that is not an object holding "token".
class TokenAusente : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Logs in with the fixed registry account (`usuario` and `senha` are accepted and not
/// sent) and returns the answer's "token" unchanged, in whatever JSON type it came.
/// Request failures (RequestException, JsonDecodeError) and TokenAusente reach the caller.
net::Json obterTokenSistemaTQ(net::HttpClient& http, const std::string& usuario, const std::string& senha);

/// Fetches the customer list with the token and returns the decoded body unchanged,
/// whatever its status or shape. Request failures reach the caller.
net::Json obterListaClientes(net::HttpClient& http, const net::Json& tokenTQ);

/// The same request, returning the body undecoded, for a caller that reads it as a stream.
std::string corpoListaClientes(net::HttpClient& http, const net::Json& tokenTQ);

/// The token as the Authorization header carries it after "Bearer ": text as is,
/// numbers in decimal, anything else as compact JSON.
std::string textoToken(const net::Json& token);

}  // namespace registry
