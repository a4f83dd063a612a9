#include "base/deadline.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(RuntimeLimiter, TheDeadlineHoldsOnlyWhileTheGuardIsAlive) {
  EXPECT_FALSE(base::deadline::current());
  {
    auto guard = base::runtime_limiter(1);
    ASSERT_TRUE(base::deadline::current());
    EXPECT_NO_THROW(base::deadline::check());
    std::this_thread::sleep_for(1100ms);
    EXPECT_THROW(base::deadline::check(), base::TimeoutException);
  }
  EXPECT_FALSE(base::deadline::current());
  EXPECT_NO_THROW(base::deadline::check());
}

TEST(RuntimeLimiter, TheTimeOutTextIsOneLine) {
  const std::string text = base::TimeoutException(300).what();
  EXPECT_EQ(text, "Tempo limite de execução atingido (300 s): execução interrompida.");
}

}  // namespace
