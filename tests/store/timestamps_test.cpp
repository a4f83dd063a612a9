#include "store/timestamps.hpp"

#include <gtest/gtest.h>

#include "tests/store/time_zone.hpp"

namespace {

using namespace std::chrono;
using store::Instante;
using store_support::TimeZone;

Instante utc(year_month_day dia, hours h, minutes m, microseconds resto = microseconds(0)) {
  return Instante(sys_days(dia).time_since_epoch() + h + m + resto);
}

TEST(LerRelogio, JudgesHourAndMinuteInTheLocalZoneAndKeepsTheTrueInstant) {
  struct Caso {
    const char* tz;
    Instante instante;
    int hora, minuto;
  };
  const Caso casos[] = {
      {store_support::BRASILIA, utc(2024y / 3 / 10, 3h, 2min), 0, 2},
      {store_support::BRASILIA, utc(2024y / 3 / 10, 2h, 59min, 59s), 23, 59},
      {store_support::BRASILIA, utc(2024y / 3 / 10, 3h, 4min, 59'999'999us), 0, 4},
      {store_support::BRASILIA, utc(2024y / 3 / 10, 3h, 5min), 0, 5},
      {"UTC0", utc(2024y / 3 / 10, 3h, 2min), 3, 2},
      {"<+0530>-5:30", utc(2024y / 3 / 9, 18h, 32min), 0, 2},
  };
  for (const auto& caso : casos) {
    TimeZone zone(caso.tz);
    const auto leitura = store::lerRelogio(caso.instante);
    EXPECT_EQ(leitura.horaLocal, caso.hora) << caso.tz;
    EXPECT_EQ(leitura.minutoLocal, caso.minuto) << caso.tz;
    EXPECT_EQ(leitura.epochMicros(), caso.instante.time_since_epoch().count()) << caso.tz;
  }
}

TEST(LerRelogio, WritesLocalMidnightPlusTwoAsThreeOhTwoUtcBehindByThreeHours) {
  TimeZone zone(store_support::BRASILIA);
  const auto leitura = store::lerRelogio(utc(2024y / 3 / 10, 3h, 2min));
  EXPECT_EQ(leitura.epochMicros(), 1710039720000000);  // 2024-03-10T03:02:00Z
}

TEST(TimestampDummy, IsTheFirstInstantOf2000InUtc) {
  EXPECT_EQ(store::TIMESTAMP_DUMMY_US, duration_cast<microseconds>(sys_days(2000y / 1 / 1).time_since_epoch()).count());
}

}  // namespace
