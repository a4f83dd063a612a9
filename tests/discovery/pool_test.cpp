#include "discovery/pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "base/deadline.hpp"
#include "tests/support/fake_http.hpp"

namespace {

using namespace std::chrono_literals;
using records::ClienteDados;
using Campo = ClienteDados::Campo;
using records::RegistroDescoberta;

records::ListaClientes lista(int quantidade) {
  records::ListaClientes saida;
  for (int i = 0; i < quantidade; ++i) saida.push_back({"link", "c" + std::to_string(i), std::to_string(i), "p"});
  return saida;
}

auto fabrica() {
  return [] { return std::make_unique<testing_support::FakeHttp>(); };
}

RegistroDescoberta registro(const ClienteDados& item) {
  return {std::string(item.comoTexto(Campo::nome)), 1, std::stoll(std::string(item.comoTexto(Campo::numero))), "p", 0};
}

TEST(ProcessarLista, TakesRecordsInFinishingOrder) {
  // Earlier items sleep longer, so they finish last.
  auto trabalho = [](net::HttpClient&, const ClienteDados& item) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40 * (3 - std::stoi(std::string(item.comoTexto(Campo::numero))))));
    return registro(item);
  };
  const auto resultado = discovery::processarLista(lista(4), trabalho, fabrica());
  ASSERT_EQ(resultado.size(), 4u);
  EXPECT_EQ(resultado[0].cliente, "c3");
  EXPECT_EQ(resultado[3].cliente, "c0");
}

TEST(ProcessarLista, RunsAtMostTenTasksAtOnceAndEachThreadKeepsItsClient) {
  std::atomic<int> ativos{0}, pico{0};
  std::mutex mutex;
  std::set<const net::HttpClient*> clientes;
  auto trabalho = [&](net::HttpClient& http, const ClienteDados& item) {
    pico = std::max(pico.load(), ++ativos);
    std::this_thread::sleep_for(5ms);
    --ativos;
    std::lock_guard<std::mutex> trava(mutex);
    clientes.insert(&http);
    return registro(item);
  };
  EXPECT_EQ(discovery::processarLista(lista(60), trabalho, fabrica()).size(), 60u);
  EXPECT_LE(pico.load(), 10);
  EXPECT_LE(clientes.size(), 10u);
}

TEST(ProcessarLista, AFailingTaskSurfacesAfterEveryOtherTaskHasRun) {
  std::atomic<int> executados{0};
  auto trabalho = [&](net::HttpClient&, const ClienteDados& item) {
    if (item.comoTexto(Campo::numero) == "0") throw std::runtime_error("numero inválido");
    std::this_thread::sleep_for(20ms);
    ++executados;
    return registro(item);
  };
  EXPECT_THROW(discovery::processarLista(lista(25), trabalho, fabrica()), std::runtime_error);
  EXPECT_EQ(executados.load(), 24);  // none cancelled
}

// Also after another task failed: the limit striking while the run waits is a time-out.
TEST(ProcessarLista, TheDeadlineEndsTheWaitAndLeavesBlockedWorkersBehind) {
  for (const bool umaFalhou : {false, true}) {
    auto bloqueado = std::make_shared<std::atomic<bool>>(true);
    auto trabalho = [bloqueado, umaFalhou](net::HttpClient&, const ClienteDados& item) {
      if (umaFalhou && item.comoTexto(Campo::numero) == "0") throw std::runtime_error("numero inválido");
      while (*bloqueado) std::this_thread::sleep_for(10ms);
      return registro(item);
    };
    const auto inicio = std::chrono::steady_clock::now();
    {
      auto guarda = base::runtime_limiter(1);
      EXPECT_THROW(discovery::processarLista(lista(3), trabalho, fabrica()), base::TimeoutException) << umaFalhou;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 1800ms);
    *bloqueado = false;  // let the detached workers finish
    std::this_thread::sleep_for(50ms);
  }
}

TEST(ProcessarLista, AnEmptyListStartsNoThread) {
  auto trabalho = [](net::HttpClient&, const ClienteDados&) -> RegistroDescoberta { throw std::logic_error("no"); };
  EXPECT_TRUE(discovery::processarLista({}, trabalho, fabrica()).empty());
}

}  // namespace
