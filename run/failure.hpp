// Unhandled failures: where they arose, and their report on stderr.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "run/process_control.hpp"

namespace run {

/// Names the step of the run in which the nested failure arose.
class EtapaFalhou : public std::runtime_error {
 public:
  explicit EtapaFalhou(std::string etapa) : std::runtime_error(std::move(etapa)) {}
};

/// Runs `passo`; a failure leaving it (other than the time limit) carries the step's name.
template <class Passo>
decltype(auto) naEtapa(std::string_view etapa, Passo&& passo) {
  try {
    return std::forward<Passo>(passo)();
  } catch (const TimeoutException&) {
    throw;
  } catch (...) {
    std::throw_with_nested(EtapaFalhou(std::string(etapa)));
  }
}

/// One line on stderr: the steps, the failure's kind and its message.
std::string descreverFalha(std::exception_ptr falha);
void relatarFalha(std::exception_ptr falha);

}  // namespace run
