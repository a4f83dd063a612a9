#include "discovery/pool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "base/deadline.hpp"

namespace discovery {

using records::ClienteDados;
using records::ListaClientes;
using records::RegistroDescoberta;
using records::ResultadoDescoberta;

namespace {

// What one task hands back: its record or its failure.
using Entrega = std::variant<RegistroDescoberta, std::exception_ptr>;

// Shared with the workers, which may outlive the call when the deadline leaves them behind.
struct Estado {
  ListaClientes lista;
  Trabalho trabalho;
  FabricaHttp fabrica;
  std::mutex mutex;
  std::condition_variable haEntrega;
  std::size_t proximo = 0;  // the next item to start
  bool parar = false;       // no further item starts
  std::deque<Entrega> prontos;

  Entrega executar(std::size_t i, std::unique_ptr<net::HttpClient>& http) {
    try {
      if (!http) http = fabrica();
      const ClienteDados item = std::move(lista[i]);  // no other worker touches item i
      return trabalho(*http, item);
    } catch (...) {
      return std::current_exception();
    }
  }

  void trabalhar() {
    std::unique_ptr<net::HttpClient> http;  // one per thread, kept for all its tasks
    for (;;) {
      std::size_t i;
      {
        std::lock_guard<std::mutex> trava(mutex);
        if (parar || proximo == lista.size()) return;
        i = proximo++;
      }
      Entrega entrega = executar(i, http);
      {
        std::lock_guard<std::mutex> trava(mutex);
        prontos.push_back(std::move(entrega));
      }
      haEntrega.notify_one();
    }
  }

  Entrega esperarEntrega() {
    std::unique_lock<std::mutex> trava(mutex);
    const auto haPronto = [this] { return !prontos.empty(); };
    if (const auto prazo = base::deadline::current()) {
      if (!haEntrega.wait_until(trava, *prazo, haPronto)) throw base::TimeoutException(base::deadline::seconds());
    } else {
      haEntrega.wait(trava, haPronto);
    }
    Entrega entrega = std::move(prontos.front());
    prontos.pop_front();
    return entrega;
  }
};

// The threads, joined on the way out; past the deadline the run is ending and workers
// still blocked in a request are left behind.
class Trabalhadores {
 public:
  explicit Trabalhadores(std::shared_ptr<Estado> estado) : estado_(std::move(estado)) {}
  Trabalhadores(const Trabalhadores&) = delete;
  Trabalhadores& operator=(const Trabalhadores&) = delete;

  ~Trabalhadores() {
    {
      std::lock_guard<std::mutex> trava(estado_->mutex);
      estado_->parar = true;
    }
    const bool expirou = base::deadline::passed();
    for (auto& thread : threads_) {
      if (expirou) thread.detach();
      else thread.join();
    }
  }

  void iniciar(std::size_t quantidade) {
    threads_.reserve(quantidade);
    for (std::size_t i = 0; i < quantidade; ++i) {
      try {
        threads_.emplace_back([estado = estado_] { estado->trabalhar(); });
      } catch (const std::system_error& erro) {
        throw std::system_error(erro.code(), "não foi possível iniciar a thread " + std::to_string(i + 1) + " de " +
                                                 std::to_string(quantidade) + " do pool");
      }
    }
  }

 private:
  std::shared_ptr<Estado> estado_;
  std::vector<std::thread> threads_;
};

}  // namespace

ResultadoDescoberta processarLista(ListaClientes listaClientes, Trabalho trabalho, FabricaHttp fabrica) {
  const std::size_t total = listaClientes.size();
  ResultadoDescoberta resultado;
  if (total == 0) return resultado;
  resultado.reserve(total);
  auto estado = std::make_shared<Estado>();
  estado->lista = std::move(listaClientes);
  estado->trabalho = std::move(trabalho);
  estado->fabrica = std::move(fabrica);
  Trabalhadores trabalhadores(estado);
  trabalhadores.iniciar(std::min(MAX_THREADS, total));
  std::exception_ptr primeiraFalha;
  for (std::size_t recebidos = 0; recebidos < total; ++recebidos) {
    Entrega entrega = estado->esperarEntrega();
    if (auto* registro = std::get_if<RegistroDescoberta>(&entrega)) {
      resultado.push_back(std::move(*registro));
    } else if (!primeiraFalha) {
      primeiraFalha = std::get<std::exception_ptr>(entrega);
    }
  }
  // A limit that struck while the run waited ends it as a time-out, whatever failed before.
  base::deadline::check();
  if (primeiraFalha) std::rethrow_exception(primeiraFalha);
  return resultado;
}

}  // namespace discovery
