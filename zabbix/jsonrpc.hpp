// The JSON-RPC envelope that every call to a customer's Zabbix shares, and its token.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "base/failure.hpp"
#include "net/http.hpp"
#include "net/json.hpp"

namespace zabbix {

/// A session token: the "result" of a login exactly as received. Null means no token;
/// any other value (the empty string included) is a token.
struct TokenZabbix {
  net::Json valor;
  // Front ends from 6.4 on only took the newer login; from 7.2 they refuse the "auth"
  // member, so such a token travels in "Authorization: Bearer" instead.
  bool bearer = false;

  bool temToken() const { return !valor.is_null(); }
};

/// A front-end answer of a shape we cannot read. Deliberately not a RequestException:
/// the worker does not turn it into a status-0 record, it ends that customer's task.
class RespostaInesperada : public base::Failure {
 public:
  explicit RespostaInesperada(const std::string& message) : Failure(base::FailureKind::unexpectedAnswer, message) {}
};

namespace jsonrpc {

/// Bounds of every call: a front end that accepts the connection and then goes silent
/// would otherwise hold its worker, and with it the storing of every other customer,
/// until the run's limit. A login that cannot be answered at once is given up sooner.
inline constexpr std::chrono::seconds LIMITE_CONEXAO{5};
inline constexpr std::chrono::seconds LIMITE_RESPOSTA{30};
inline constexpr std::chrono::seconds LIMITE_RESPOSTA_LOGIN{5};

/// Where "auth" goes after "params": login and logout put "id" first, item.get "auth".
enum class Ordem { idAuth, authId };

/// {"jsonrpc": "2.0", "method": …, "params": …} then "id" 1 and "auth" in `ordem`;
/// a bearer token leaves "auth" out.
net::Json envelope(std::string_view metodo, net::Json params, const TokenZabbix& token, Ordem ordem);

/// The answer's body as JSON; one that is not JSON is a request failure of the call,
/// like a broken transfer (RequestException).
net::Json lerCorpo(std::string_view corpo);

/// A POST of the serialised envelope with this Content-Type and, for a bearer token,
/// its Authorization header; no other header. Bounded by LIMITE_CONEXAO and LIMITE_RESPOSTA.
net::HttpRequest post(const std::string& url, std::string_view contentType, const net::Json& envelope,
                      const TokenZabbix& token);

}  // namespace jsonrpc

}  // namespace zabbix
