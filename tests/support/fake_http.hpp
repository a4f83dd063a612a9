// A scripted HttpClient for unit tests: records every request and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "net/http.hpp"

namespace testing_support {

/// What the fake does for one request: answer, or fail as a transport failure would.
struct Failure {
  std::string message;
  bool transient = false;
};
using Script = std::variant<net::HttpResponse, Failure>;

inline net::HttpResponse response(long status, std::string body) { return {status, std::move(body), {}}; }

/// A request's body as it goes on the wire, whether given whole or in pieces.
inline std::string wholeBody(const net::HttpRequest& request) {
  if (request.body) return *request.body;
  std::string whole;
  for (const auto& piece : request.bodyParts) whole += piece;
  return whole;
}

class FakeHttp final : public net::HttpClient {
 public:
  /// Queues the outcome of the next request (first in, first out).
  FakeHttp& respond(Script next) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(next));
    return *this;
  }
  FakeHttp& respond(long status, std::string body) { return respond(response(status, std::move(body))); }
  FakeHttp& fail(std::string message, bool transient = false) {
    return respond(Failure{std::move(message), transient});
  }

  net::HttpResponse perform(const net::HttpRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    if (script_.empty()) throw std::logic_error("FakeHttp: unexpected request to " + request.url);
    Script next = std::move(script_.front());
    script_.pop_front();
    if (auto* failure = std::get_if<Failure>(&next)) throw net::RequestException(failure->message, failure->transient);
    return std::get<net::HttpResponse>(next);
  }

  const std::vector<net::HttpRequest>& requests() const { return requests_; }
  bool scriptDone() const { return script_.empty(); }

 private:
  std::mutex mutex_;
  std::deque<Script> script_;
  std::vector<net::HttpRequest> requests_;
};

}  // namespace testing_support
