// Sets TZ for one test and puts the old value back.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace store_testes {

class FusoHorario {
 public:
  explicit FusoHorario(const char* tz) {
    if (const char* atual = std::getenv("TZ")) anterior_ = atual;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~FusoHorario() {
    if (anterior_) ::setenv("TZ", anterior_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  FusoHorario(const FusoHorario&) = delete;
  FusoHorario& operator=(const FusoHorario&) = delete;

 private:
  std::optional<std::string> anterior_;
};

/// Three hours behind UTC all year, as in Brasília.
inline constexpr const char* BRASILIA = "<-03>3";

}  // namespace store_testes
