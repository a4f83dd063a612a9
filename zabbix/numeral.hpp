// Integer numerals as the front ends and the registry write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.hpp"

namespace zabbix {

/// A text or value that should be an integer and is not (or does not fit in 64 bits).
class NumeralInvalido : public base::Failure {
 public:
  explicit NumeralInvalido(const std::string& message) : Failure(base::FailureKind::invalidNumeral, message) {}
};

/// Reads a base-10 integer numeral: an optional sign, digits, ASCII white space around.
/// NumeralInvalido when it is anything else or lies outside the signed 64-bit range.
std::int64_t lerNumeral(std::string_view texto);

}  // namespace zabbix
