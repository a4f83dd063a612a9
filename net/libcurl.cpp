#include "net/libcurl.hpp"

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>

#include "net/http.hpp"

namespace net::libcurl {

namespace {

// The ABI name of libcurl 7 and 8 (Debian's libcurl4 installs it under this name).
constexpr const char* SONAME = "libcurl.so.4";

template <class Funcao>
void resolver(void* biblioteca, Funcao& destino, const char* nome) {
  void* simbolo = dlsym(biblioteca, nome);
  if (simbolo == nullptr) throw RequestException(std::string("libcurl: símbolo ausente: ") + nome);
  destino = reinterpret_cast<Funcao>(simbolo);
}

Api carregar() {
  void* biblioteca = dlopen(SONAME, RTLD_NOW | RTLD_LOCAL);
  if (biblioteca == nullptr) {
    const char* erro = dlerror();
    throw RequestException(std::string("libcurl: não foi possível carregar ") + SONAME + ": " + (erro ? erro : "?"));
  }
  Api a{};
  resolver(biblioteca, a.global_init, "curl_global_init");
  resolver(biblioteca, a.easy_init, "curl_easy_init");
  resolver(biblioteca, a.easy_cleanup, "curl_easy_cleanup");
  resolver(biblioteca, a.easy_reset, "curl_easy_reset");
  resolver(biblioteca, a.easy_setopt, "curl_easy_setopt");
  resolver(biblioteca, a.easy_getinfo, "curl_easy_getinfo");
  resolver(biblioteca, a.easy_strerror, "curl_easy_strerror");
  resolver(biblioteca, a.multi_init, "curl_multi_init");
  resolver(biblioteca, a.multi_cleanup, "curl_multi_cleanup");
  resolver(biblioteca, a.multi_add_handle, "curl_multi_add_handle");
  resolver(biblioteca, a.multi_remove_handle, "curl_multi_remove_handle");
  resolver(biblioteca, a.multi_perform, "curl_multi_perform");
  resolver(biblioteca, a.multi_poll, "curl_multi_poll");
  resolver(biblioteca, a.multi_info_read, "curl_multi_info_read");
  resolver(biblioteca, a.multi_strerror, "curl_multi_strerror");
  resolver(biblioteca, a.slist_append, "curl_slist_append");
  resolver(biblioteca, a.slist_free_all, "curl_slist_free_all");
  if (a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw RequestException("curl_global_init falhou");
  return a;
}

}  // namespace

const Api& api() {
  static std::atomic<const Api*> pronta{nullptr};
  if (const Api* a = pronta.load(std::memory_order_acquire)) return *a;
  // A failed load is tried again by the next caller, as curl_global_init was before.
  static std::mutex mutex;
  static Api carregada{};
  std::lock_guard<std::mutex> trava(mutex);
  if (pronta.load(std::memory_order_relaxed) == nullptr) {
    carregada = carregar();
    pronta.store(&carregada, std::memory_order_release);
  }
  return carregada;
}

}  // namespace net::libcurl
