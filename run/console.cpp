#include "run/console.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace run::console {

namespace {

std::atomic<bool> g_saidaFalhou{false};

bool escreverTudo(int fd, std::string_view dados) {
  while (!dados.empty()) {
    const ssize_t escrito = ::write(fd, dados.data(), dados.size());
    if (escrito < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    dados.remove_prefix(static_cast<size_t>(escrito));
  }
  return true;
}

void escreverLinha(int fd, std::string_view texto) {
  std::string linha;
  linha.reserve(texto.size() + 1);
  linha.append(texto);
  linha.push_back('\n');
  if (!escreverTudo(fd, linha) && fd == STDOUT_FILENO) g_saidaFalhou = true;
}

}  // namespace

void linha(std::string_view texto) { escreverLinha(STDOUT_FILENO, texto); }

void linhaErro(std::string_view texto) { escreverLinha(STDERR_FILENO, texto); }

void bloco(std::string_view texto) {
  if (!escreverTudo(STDOUT_FILENO, texto)) g_saidaFalhou = true;
}

bool saidaFalhou() { return g_saidaFalhou; }

void prepararDescritores() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) g_saidaFalhou = true;
    // open() takes the lowest free descriptor, which is this one.
    ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace run::console
