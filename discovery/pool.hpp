// The worker pool of the discovery run.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "discovery/records.hpp"
#include "net/http.hpp"

namespace discovery {

/// A fixed set of worker threads, each with an HTTP client of its own. Tasks start in
/// the order submitted; outcomes are taken in the order the tasks finish.
class PoolClientes {
 public:
  using Tarefa = std::function<RegistroDescoberta(net::HttpClient&)>;
  using FabricaHttp = std::function<std::unique_ptr<net::HttpClient>()>;

  static constexpr std::size_t MAX_THREADS = 10;

  PoolClientes(std::size_t threads, FabricaHttp fabrica);
  /// Waits for every submitted task, unless the run's deadline has passed: the run is
  /// then ending and workers still blocked in a request are left behind.
  ~PoolClientes();
  PoolClientes(const PoolClientes&) = delete;
  PoolClientes& operator=(const PoolClientes&) = delete;

  void submeter(Tarefa tarefa);

  /// The next finished task's record; rethrows that task's failure. Throws
  /// run::TimeoutException when the run's deadline passes first.
  RegistroDescoberta proximoResultado();

 private:
  struct Estado;
  std::shared_ptr<Estado> estado_;  // shared with the workers, which may outlive the pool
  std::vector<std::thread> threads_;
};

/// Runs `trabalho` for every work item on a pool of up to 10 threads; the records come
/// in finishing order. A task's failure surfaces once every task has ended. The list is
/// taken over by the tasks (move it in when it is not needed afterwards).
ResultadoDescoberta processarLista(ListaClientes listaClientes,
                                   std::function<RegistroDescoberta(net::HttpClient&, const ClienteDados&)> trabalho,
                                   PoolClientes::FabricaHttp fabrica);

}  // namespace discovery
