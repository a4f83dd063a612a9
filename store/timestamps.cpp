#include "store/timestamps.hpp"

#include <ctime>
#include <stdexcept>

namespace store {

Instante agoraSistema() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

LeituraRelogio lerRelogio(Instante instante) {
  const std::time_t segundos = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(instante));
  std::tm local{};
  ::tzset();  // localtime_r alone may keep a zone read before TZ changed
  if (::localtime_r(&segundos, &local) == nullptr) throw std::runtime_error("localtime_r falhou");
  return {instante, local.tm_hour, local.tm_min};
}

}  // namespace store
