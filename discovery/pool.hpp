// The worker pool of the discovery run.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "net/http.hpp"
#include "records/records.hpp"

namespace discovery {

inline constexpr std::size_t MAX_THREADS = 10;

using Trabalho = std::function<records::RegistroDescoberta(net::HttpClient&, const records::ClienteDados&)>;
using FabricaHttp = std::function<std::unique_ptr<net::HttpClient>()>;

/// Runs `trabalho` for every work item on up to 10 threads, each with an HTTP client of
/// its own: the items start in list order and the records come in finishing order. A
/// task's failure surfaces once every task has ended; the run's deadline ends the wait
/// at once (base::TimeoutException) and leaves workers still blocked in a request behind.
/// A thread that cannot be started ends the call with its failure once the others have
/// finished what they had begun.
records::ResultadoDescoberta processarLista(records::ListaClientes listaClientes, Trabalho trabalho,
                                            FabricaHttp fabrica);

}  // namespace discovery
