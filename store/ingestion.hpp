// Our QuestDB ingestion client: rows in the InfluxDB line protocol, sent by POST /write.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/failure.hpp"
#include "net/http.hpp"
#include "store/destination.hpp"

namespace store {

/// The one failure type of the ingestion client: a bad row,
/// a transport failure or the server's refusal (with the server's own text).
class IngressError : public base::Failure {
 public:
  explicit IngressError(const std::string& message) : Failure(base::FailureKind::ingestion, message) {}
};

/// A row time: nanoseconds since the epoch.
struct TimestampNanos {
  std::int64_t nanos = 0;
};

/// A timestamp column value: microseconds since the epoch.
struct TimestampMicros {
  std::int64_t micros = 0;
};

/// A column value; std::monostate is a null, which the row leaves out.
using ValorColuna = std::variant<std::monostate, std::int64_t, TimestampMicros>;
using Simbolos = std::vector<std::pair<std::string, std::string>>;
using Colunas = std::vector<std::pair<std::string, ValorColuna>>;

/// One line of the line protocol, with its line feed. Null columns are left out.
std::string linhaProtocolo(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas,
                           TimestampNanos at);

/// Source of the sender's row times, in nanoseconds since the epoch.
using RelogioNanos = std::function<std::int64_t()>;
std::int64_t nanosSistema();

/// The clock and the pause of a flush that sends again: the steady clock, and a pause that
/// never outlasts the run's deadline. Tests put a clock of their own in.
struct Espera {
  std::function<std::chrono::steady_clock::time_point()> agora;
  std::function<void(std::chrono::milliseconds)> pausar;
  // How long a flush keeps sending again after a failure that may pass (the server or
  // its proxy restarting); the table deduplicates, so a batch that did land before its
  // answer was lost is stored once.
  std::chrono::milliseconds limite{10000};
};
Espera esperaReal();

/// Buffers rows and sends them all with flush, by HTTPS to the destination's port. Closing drops whatever was not
/// flushed and never sends: after a failure nothing more goes out.
class Sender {
 public:
  explicit Sender(net::HttpClient& http, DestinoQuestDb destino, RelogioNanos relogio = nanosSistema,
                  Espera espera = esperaReal());

  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender() { close(); }

  /// The current time, never earlier than a time this sender gave before.
  TimestampNanos now();
  void row(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas, TimestampNanos at);
  /// One POST of the whole buffer, sent again while it fails in a way that may pass
  /// (see Espera::limite); nothing is sent when the buffer is empty.
  void flush();
  void close() noexcept;

 private:
  net::HttpRequest pedidoEscrita() const;
  void enviar(const net::HttpRequest& pedido) const;
  void exigirAberto() const;

  net::HttpClient& http_;
  DestinoQuestDb destino_;
  RelogioNanos relogio_;
  Espera espera_;
  std::optional<std::int64_t> ultimaHora_;  // the latest time now() gave
  std::vector<std::string> buffer_;         // the rows, in blocks
  bool fechado_ = false;
};

}  // namespace store
