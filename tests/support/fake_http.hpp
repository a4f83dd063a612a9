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
struct Falha {
  std::string mensagem;
  bool transient = false;
};
using Roteiro = std::variant<net::HttpResponse, Falha>;

inline net::HttpResponse resposta(long status, std::string corpo) { return {status, std::move(corpo), {}}; }

class FakeHttp final : public net::HttpClient {
 public:
  /// Queues the outcome of the next request (first in, first out).
  FakeHttp& responder(Roteiro roteiro) {
    std::lock_guard<std::mutex> trava(mutex_);
    roteiro_.push_back(std::move(roteiro));
    return *this;
  }
  FakeHttp& responder(long status, std::string corpo) { return responder(resposta(status, std::move(corpo))); }
  FakeHttp& falhar(std::string mensagem, bool transient = false) {
    return responder(Falha{std::move(mensagem), transient});
  }

  net::HttpResponse perform(const net::HttpRequest& request) override {
    std::lock_guard<std::mutex> trava(mutex_);
    pedidos_.push_back(request);
    if (roteiro_.empty()) throw std::logic_error("FakeHttp: unexpected request to " + request.url);
    Roteiro proximo = std::move(roteiro_.front());
    roteiro_.pop_front();
    if (auto* falha = std::get_if<Falha>(&proximo)) throw net::RequestException(falha->mensagem, falha->transient);
    return std::get<net::HttpResponse>(proximo);
  }

  const std::vector<net::HttpRequest>& pedidos() const { return pedidos_; }
  bool roteiroEsgotado() const { return roteiro_.empty(); }

 private:
  std::mutex mutex_;
  std::deque<Roteiro> roteiro_;
  std::vector<net::HttpRequest> pedidos_;
};

}  // namespace testing_support
