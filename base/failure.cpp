#include "base/failure.hpp"

namespace base {

FailureTrail unwind(std::exception_ptr failure) {
  FailureTrail trail;
  for (;;) {
    try {
      std::rethrow_exception(failure);
    } catch (const StepFailed& step) {
      trail.steps += trail.steps.empty() ? "" : " > ";
      trail.steps += step.what();
      try {
        std::rethrow_if_nested(step);
      } catch (...) {
        failure = std::current_exception();
        continue;
      }
    } catch (...) {
    }
    trail.cause = failure;
    return trail;
  }
}

}  // namespace base
