// Failures: the kind each one is of, and the step of the run in which it arose.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "base/deadline.hpp"

namespace base {

/// The kinds of failure the program raises, one per failure type, so that whoever reports
/// a failure reads its kind instead of knowing every type.
enum class FailureKind : std::uint8_t {
  notJson,                // a body that should be JSON and is not
  notUtf8,                // a text that cannot be serialised
  request,                // a transport failure of one exchange
  missingToken,           // the registry's login answer holds no token
  invalidList,            // the registry's list has not the shape the run reads
  unexpectedAnswer,       // a front-end answer of a shape we cannot read
  invalidNumeral,         // a text that should be an integer
  invalidItem,            // a work item that is not text where it must be
  ingestion,              // the ingestion client's failure
  incompleteCommandLine,  // the mode alone where the full command line is needed
};

/// The base of the program's failure types: the message and the kind.
class Failure : public std::runtime_error {
 public:
  Failure(FailureKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  FailureKind kind() const noexcept { return kind_; }

 private:
  FailureKind kind_;
};

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
