// Unhandled failures: the step of the run in which they arose.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "base/deadline.hpp"

namespace base {

/// Names the step of the run in which the nested failure arose.
class StepFailed : public std::runtime_error {
 public:
  explicit StepFailed(const std::string& step) : std::runtime_error(step) {}
};

/// Runs `action`; a failure leaving it (other than the time limit) carries the step's name.
template <class Action>
decltype(auto) inStep(std::string_view step, Action&& action) {
  try {
    return std::forward<Action>(action)();
  } catch (const TimeoutException&) {
    throw;
  } catch (...) {
    std::throw_with_nested(StepFailed(std::string(step)));
  }
}

/// The steps a failure went through, outermost first and joined by " > ", and the
/// failure itself.
struct FailureTrail {
  std::string steps;
  std::exception_ptr cause;
};
FailureTrail unwind(std::exception_ptr failure);

}  // namespace base
