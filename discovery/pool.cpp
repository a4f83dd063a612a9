#include "discovery/pool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <variant>

#include "run/process_control.hpp"

namespace discovery {

namespace {

using Desfecho = std::variant<RegistroDescoberta, std::exception_ptr>;

}  // namespace

struct PoolClientes::Estado {
  std::mutex mutex;
  std::condition_variable haTarefa;
  std::condition_variable haDesfecho;
  std::deque<Tarefa> fila;
  std::deque<Desfecho> prontos;
  bool fechando = false;
  FabricaHttp fabrica;

  void trabalhar();
  Desfecho executar(Tarefa& tarefa, std::unique_ptr<net::HttpClient>& http);
};

Desfecho PoolClientes::Estado::executar(Tarefa& tarefa, std::unique_ptr<net::HttpClient>& http) {
  try {
    if (!http) http = fabrica();
    return tarefa(*http);
  } catch (...) {
    return std::current_exception();
  }
}

void PoolClientes::Estado::trabalhar() {
  std::unique_ptr<net::HttpClient> http;  // one per thread, kept for all its tasks
  for (;;) {
    Tarefa tarefa;
    {
      std::unique_lock<std::mutex> trava(mutex);
      haTarefa.wait(trava, [this] { return fechando || !fila.empty(); });
      if (fila.empty()) return;  // closing and nothing left to run
      tarefa = std::move(fila.front());
      fila.pop_front();
    }
    Desfecho desfecho = executar(tarefa, http);
    {
      std::lock_guard<std::mutex> trava(mutex);
      prontos.push_back(std::move(desfecho));
    }
    haDesfecho.notify_one();
  }
}

PoolClientes::PoolClientes(std::size_t threads, FabricaHttp fabrica) : estado_(std::make_shared<Estado>()) {
  estado_->fabrica = std::move(fabrica);
  threads = std::min(threads, MAX_THREADS);
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([estado = estado_] { estado->trabalhar(); });
}

PoolClientes::~PoolClientes() {
  {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    estado_->fechando = true;
  }
  estado_->haTarefa.notify_all();
  const auto prazo = run::prazo::atual();
  const bool expirou = prazo && std::chrono::steady_clock::now() >= *prazo;
  for (auto& thread : threads_) {
    if (expirou) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

void PoolClientes::submeter(Tarefa tarefa) {
  {
    std::lock_guard<std::mutex> trava(estado_->mutex);
    estado_->fila.push_back(std::move(tarefa));
  }
  estado_->haTarefa.notify_one();
}

RegistroDescoberta PoolClientes::proximoResultado() {
  std::unique_lock<std::mutex> trava(estado_->mutex);
  const auto haPronto = [this] { return !estado_->prontos.empty(); };
  if (const auto prazo = run::prazo::atual()) {
    if (!estado_->haDesfecho.wait_until(trava, *prazo, haPronto)) throw run::TimeoutException(run::prazo::segundos());
  } else {
    estado_->haDesfecho.wait(trava, haPronto);
  }
  Desfecho desfecho = std::move(estado_->prontos.front());
  estado_->prontos.pop_front();
  trava.unlock();
  if (auto* falha = std::get_if<std::exception_ptr>(&desfecho)) std::rethrow_exception(*falha);
  return std::get<RegistroDescoberta>(std::move(desfecho));
}

ResultadoDescoberta processarLista(ListaClientes listaClientes,
                                   std::function<RegistroDescoberta(net::HttpClient&, const ClienteDados&)> trabalho,
                                   PoolClientes::FabricaHttp fabrica) {
  ResultadoDescoberta resultado;
  if (listaClientes.empty()) return resultado;
  const std::size_t total = listaClientes.size();
  resultado.reserve(total);
  PoolClientes pool(std::min(PoolClientes::MAX_THREADS, total), std::move(fabrica));
  // The tasks own the list together, and nothing of the caller's: a worker left behind
  // at the deadline must not read the caller's list after it is gone. One list for all
  // tasks rather than a copy of its item in each; each task takes its own item out and
  // frees it when done.
  struct Comum {
    ListaClientes lista;
    std::function<RegistroDescoberta(net::HttpClient&, const ClienteDados&)> trabalho;
  };
  const auto comum = std::make_shared<Comum>(Comum{std::move(listaClientes), std::move(trabalho)});
  // Tasks reach the pool a few at a time, as others finish: the queue holds a few
  // functions instead of one per customer, and they still start in list order.
  std::size_t enviados = 0;
  const auto enviarAte = [&](std::size_t ate) {
    for (; enviados < std::min(ate, total); ++enviados) {
      pool.submeter([comum, i = enviados](net::HttpClient& http) {
        const ClienteDados item = std::move(comum->lista[i]);  // no other task touches item i
        return comum->trabalho(http, item);
      });
    }
  };
  enviarAte(2 * PoolClientes::MAX_THREADS);
  try {
    for (std::size_t i = 0; i < total; ++i) {
      resultado.push_back(pool.proximoResultado());
      enviarAte(enviados + 1);
    }
  } catch (const run::TimeoutException&) {
    throw;  // the run is ending: nothing more starts
  } catch (...) {
    enviarAte(total);  // every task still runs before a failure surfaces
    throw;
  }
  return resultado;
}

}  // namespace discovery
