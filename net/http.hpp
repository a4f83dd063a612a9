// HTTP exchanges over libcurl, behind a small interface that tests can fake.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/failure.hpp"
#include "net/trust.hpp"

namespace net {

using Headers = std::vector<std::pair<std::string, std::string>>;
using QueryParams = std::vector<std::pair<std::string, std::string>>;

/// A user name and password, as HTTP basic authentication and logins take them.
struct Credentials {
  std::string user;
  std::string password;
};

struct HttpRequest {
  std::string method = "GET";  // "GET" or "POST"
  std::string url;             // used exactly as given; must carry its "scheme://"
  Headers headers;             // sent as given and in this order, after Host
  QueryParams query;           // appended URL-encoded, in this order
  std::optional<std::string> body;
  // A large body in pieces, sent one after the other when `body` is absent, so that it is
  // never held as one block (nor grown as one).
  std::vector<std::string> bodyParts;
  std::optional<Credentials> basic;  // sent with the request itself
  // Bounds on connecting (TLS handshake included) and on each wait for response data;
  // none when absent.
  std::optional<std::chrono::milliseconds> connectTimeout;
  std::optional<std::chrono::milliseconds> idleTimeout;
  bool followRedirects = true;  // false: a 3xx is the answer, its target in `location`
};

struct HttpResponse {
  long status = 0;
  std::string body;      // content encoding already undone
  std::string location;  // where a redirect that was not followed points
};

/// A transport failure of one exchange (resolution, connection, TLS, time-out,
/// malformed URL, unsupported scheme, too many redirects, an oversized answer), with
/// libcurl's description.
class RequestException : public base::Failure {
 public:
  explicit RequestException(const std::string& message, bool transient = false)
      : Failure(base::FailureKind::request, message), transient_(transient) {}

  /// A failure that the same request may not meet again: the connection refused, reset
  /// or cut short (TLS handshake included), or a time-out. Not a malformed URL, a
  /// certificate that cannot be trusted or an answer we cannot read.
  bool transient() const noexcept { return transient_; }

 private:
  bool transient_;
};

/// Largest answer the program will hold; a list of 100 000 customers is about 25 MB.
inline constexpr std::size_t MAX_BODY_BYTES = std::size_t{64} << 20;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  /// One independent exchange. Throws RequestException on a transport failure and
  /// base::TimeoutException when the run's deadline passes.
  virtual HttpResponse perform(const HttpRequest& request) = 0;
};

/// libcurl's process-wide set-up, made once in main before any thread starts.
class CurlGlobal {
 public:
  CurlGlobal();
  ~CurlGlobal();
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
};

/// The real client. Not thread-safe: one per thread. Every exchange gets a fresh
/// connection and no TLS session, cookie or connection is carried over; peer and host
/// are verified on every request against the shared trust store.
class CurlClient final : public HttpClient {
 public:
  explicit CurlClient(std::shared_ptr<const TrustStore> trust);
  /// A client with a store of its own: `caBundle` as TrustStore takes it.
  explicit CurlClient(const std::string& caBundle);
  ~CurlClient() override;
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  HttpResponse perform(const HttpRequest& request) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// The URL with the query parameters appended, each value percent-encoded.
std::string urlWithQuery(const std::string& url, const QueryParams& query);

}  // namespace net
