#include "discovery/pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
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

auto factory() {
  return [] { return std::make_unique<testing_support::FakeHttp>(); };
}

RegistroDescoberta registro(const ClienteDados& item) {
  return {std::string(item.comoTexto(Campo::nome)), 1, std::stoll(std::string(item.comoTexto(Campo::numero))), "p", 0};
}

// Tells when a thread has let go of its client: a thread drops it only after handing over
// the record of its last task.
class ReleasedClients {
 public:
  auto factory() {
    return [this] { return std::make_unique<Client>(*this); };
  }
  void waitFor(const net::HttpClient* client) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return released_.count(client) == 1; });
  }

 private:
  struct Client final : net::HttpClient {
    explicit Client(ReleasedClients& owner) : owner(owner) {}
    ~Client() override {
      std::lock_guard<std::mutex> lock(owner.mutex_);
      owner.released_.insert(this);
      owner.changed_.notify_all();
    }
    net::HttpResponse perform(const net::HttpRequest&) override { throw std::logic_error("no request here"); }
    ReleasedClients& owner;
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<const net::HttpClient*> released_;
};

TEST(ProcessarLista, TakesRecordsInFinishingOrder) {
  // Every task waits for its turn; the last item finishes first.
  std::mutex mutex;
  std::condition_variable mudou;
  std::map<std::string, const net::HttpClient*> clienteDe;
  std::string vez;
  auto trabalho = [&](net::HttpClient& http, const ClienteDados& item) {
    const std::string nome(item.comoTexto(Campo::nome));
    std::unique_lock<std::mutex> trava(mutex);
    clienteDe[nome] = &http;
    mudou.notify_all();
    mudou.wait(trava, [&] { return vez == nome; });
    return registro(item);
  };
  ReleasedClients released;
  records::ResultadoDescoberta resultado;
  std::thread execucao([&] { resultado = discovery::processarLista(lista(4), trabalho, released.factory()); });
  {
    std::unique_lock<std::mutex> trava(mutex);
    mudou.wait(trava, [&] { return clienteDe.size() == 4; });  // each item on a thread of its own
  }
  for (const char* nome : {"c3", "c1", "c2", "c0"}) {
    const net::HttpClient* cliente;
    {
      std::lock_guard<std::mutex> trava(mutex);
      vez = nome;
      cliente = clienteDe.at(nome);
    }
    mudou.notify_all();
    released.waitFor(cliente);
  }
  execucao.join();
  std::vector<std::string> ordem;
  for (const auto& r : resultado) ordem.push_back(r.cliente);
  EXPECT_EQ(ordem, (std::vector<std::string>{"c3", "c1", "c2", "c0"}));
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
  EXPECT_EQ(discovery::processarLista(lista(60), trabalho, factory()).size(), 60u);
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
  EXPECT_THROW(discovery::processarLista(lista(25), trabalho, factory()), std::runtime_error);
  EXPECT_EQ(executados.load(), 24);  // none cancelled
}

// Also after another task failed: the limit striking while the run waits is a time-out, and
// the call returns while the blocked workers are still blocked.
TEST(ProcessarLista, TheDeadlineEndsTheWaitAndLeavesBlockedWorkersBehind) {
  for (const bool umaFalhou : {false, true}) {
    auto bloqueado = std::make_shared<std::atomic<bool>>(true);
    auto terminados = std::make_shared<std::atomic<int>>(0);
    auto trabalho = [bloqueado, terminados, umaFalhou](net::HttpClient&, const ClienteDados& item) {
      if (umaFalhou && item.comoTexto(Campo::numero) == "0") throw std::runtime_error("numero inválido");
      while (*bloqueado) std::this_thread::sleep_for(10ms);
      ++*terminados;
      return registro(item);
    };
    {
      auto guarda = base::runtime_limiter(1);
      EXPECT_THROW(discovery::processarLista(lista(3), trabalho, factory()), base::TimeoutException) << umaFalhou;
    }
    EXPECT_EQ(terminados->load(), 0) << umaFalhou;
    *bloqueado = false;  // let the detached workers finish before the next case
    while (*terminados < (umaFalhou ? 2 : 3)) std::this_thread::sleep_for(1ms);
  }
}

TEST(ProcessarLista, AnEmptyListStartsNoThread) {
  auto trabalho = [](net::HttpClient&, const ClienteDados&) -> RegistroDescoberta { throw std::logic_error("no"); };
  EXPECT_TRUE(discovery::processarLista({}, trabalho, factory()).empty());
}

}  // namespace
