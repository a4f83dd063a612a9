// The time values of the store: the run clock reading, the fixed reference time, epoch counts.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace store {

/// An instant of the wall clock, to the microsecond.
using Instante = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

/// Where the run clock reading comes from; tests pass a fixed instant.
using Relogio = std::function<Instante()>;

/// The system's wall clock.
Instante agoraSistema();

/// 2000-01-01T00:00:00Z, the value of column timestampDummy in every row.
inline constexpr std::int64_t TIMESTAMP_DUMMY_US = 946684800000000;

/// One reading of the run clock: the instant, and its hour and minute in the local zone.
struct LeituraRelogio {
  Instante instante;
  int horaLocal = 0;
  int minutoLocal = 0;

  std::int64_t epochMicros() const { return instante.time_since_epoch().count(); }
};

/// Judges the instant in the host's local zone (TZ honoured).
LeituraRelogio lerRelogio(Instante instante);

}  // namespace store
