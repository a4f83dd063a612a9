// The maker's customer registry: the login with the collector's own account and the customer list.
// TQ in names (obterTokenSistemaTQ, tokenTQ) stands for the maker, Tarquel.
#pragma once

#include <string>

#include "base/failure.hpp"
#include "net/http.hpp"
#include "net/json.hpp"

namespace registry {

/// The registry answered the login with JSON that is not an object holding "token".
class TokenAusente : public base::Failure {
 public:
  explicit TokenAusente(const std::string& message) : Failure(base::FailureKind::missingToken, message) {}
};

/// The collector's own registry account: the one every login sends.
struct Conta {
  std::string login;
  std::string senha;
};

/// The account compiled into the program.
Conta contaCompilada();

/// Logs in with `conta` and returns the answer's "token" unchanged, in whatever JSON
/// type it came. RequestException, net::JsonError and TokenAusente reach the caller.
net::Json obterTokenSistemaTQ(net::HttpClient& http, const Conta& conta);

/// Fetches the customer list with the token and returns its body undecoded, whatever its
/// status, for the selection to read entry by entry. Request failures reach the caller.
std::string obterListaClientes(net::HttpClient& http, const net::Json& tokenTQ);

/// The token as the Authorization header carries it after "Bearer ": text as is,
/// numbers in decimal, anything else as compact JSON.
std::string textoToken(const net::Json& token);

}  // namespace registry
