#include "run/process_control.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(RuntimeLimiter, TheDeadlineHoldsOnlyWhileTheGuardIsAlive) {
  EXPECT_FALSE(run::prazo::atual());
  {
    auto guarda = run::runtime_limiter(1);
    ASSERT_TRUE(run::prazo::atual());
    EXPECT_NO_THROW(run::prazo::verificar());
    std::this_thread::sleep_for(1100ms);
    EXPECT_THROW(run::prazo::verificar(), run::TimeoutException);
  }
  EXPECT_FALSE(run::prazo::atual());
  EXPECT_NO_THROW(run::prazo::verificar());
}

TEST(RuntimeLimiter, TheTimeOutTextIsOneLine) {
  const std::string texto = run::TimeoutException(300).what();
  EXPECT_EQ(texto, "Tempo limite de execução atingido (300 s): execução interrompida.");
}

}  // namespace
