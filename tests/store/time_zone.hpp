// Sets TZ for one test and puts the old value back.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace store_support {

class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* current = std::getenv("TZ")) previous_ = current;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (previous_) ::setenv("TZ", previous_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

/// Three hours behind UTC all year, as in Brasília.
inline constexpr const char* BRASILIA = "<-03>3";

}  // namespace store_support
