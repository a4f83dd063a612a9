#include "run/process_control.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "run/console.hpp"
#include "run/settings.hpp"

extern char** environ;

namespace run {

namespace {

using prazo::Relogio;

// Deadline as steady-clock ticks, 0 while no guard is alive; read by every thread.
std::atomic<Relogio::rep> g_prazo{0};
std::atomic<int> g_segundos{0};
std::atomic<bool> g_encerrando{false};

// Time the main thread gets to unwind and print before the watchdog steps in.
constexpr std::chrono::seconds FOLGA_VIGIA{2};

std::string textoTimeout(int segundos) {
  return "Tempo limite de execução atingido (" + std::to_string(segundos) + " s): execução interrompida.";
}

}  // namespace

TimeoutException::TimeoutException(int segundos) : std::runtime_error(textoTimeout(segundos)) {}

RuntimeGuard::RuntimeGuard(int segundos) : segundos_(segundos) {
  const auto limite = Relogio::now() + std::chrono::seconds(segundos);
  g_segundos = segundos;
  g_prazo = limite.time_since_epoch().count();
  vigia_ = std::thread([this, limite] { vigiar(limite); });
}

RuntimeGuard::~RuntimeGuard() {
  {
    std::lock_guard<std::mutex> trava(mutex_);
    encerrado_ = true;
  }
  cv_.notify_all();
  vigia_.join();
  g_prazo = 0;
  g_segundos = 0;
}

void RuntimeGuard::vigiar(Relogio::time_point limite) {
  std::unique_lock<std::mutex> trava(mutex_);
  if (cv_.wait_until(trava, limite + FOLGA_VIGIA, [this] { return encerrado_; })) return;
  if (!reivindicarEncerramento()) return;
  console::linha(textoTimeout(segundos_));
  std::_Exit(console::saidaFalhou() ? 2 : 0);
}

RuntimeGuard runtime_limiter(int seconds) { return RuntimeGuard(seconds); }

namespace prazo {

std::optional<Relogio::time_point> atual() {
  const auto ticks = g_prazo.load();
  if (ticks == 0) return std::nullopt;
  return Relogio::time_point(Relogio::duration(ticks));
}

int segundos() { return g_segundos; }

void verificar() {
  const auto limite = atual();
  if (limite && Relogio::now() >= *limite) throw TimeoutException(segundos());
}

}  // namespace prazo

bool reivindicarEncerramento() { return !g_encerrando.exchange(true); }

void launch(const std::string& mode) {
  const std::string marca = "launch_";
  const Settings& s = settings();
  std::vector<std::string> argumentos{s.nomeInvocacao, mode.substr(mode.find(marca) + marca.size())};
  for (const auto* valor : {&s.usuarioZabbix, &s.senhaZabbix, &s.usuarioTQ, &s.senhaTQ, &s.questDbIp,
                            &s.questDbPort, &s.questDbUser, &s.questDbPass, &s.zabbixHost}) {
    if (*valor) argumentos.push_back(**valor);
  }
  std::vector<char*> argv;
  for (auto& argumento : argumentos) argv.push_back(argumento.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t acoes;
  posix_spawnattr_t atributos;
  posix_spawn_file_actions_init(&acoes);
  posix_spawnattr_init(&atributos);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&acoes, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  // Only the three streams: a caller waiting for the end of a pipe it gave us must not
  // wait for the whole background run.
  posix_spawn_file_actions_addclosefrom_np(&acoes, STDERR_FILENO + 1);
  posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETSID);
  pid_t filho = 0;
  const int erro = posix_spawn(&filho, "/proc/self/exe", &acoes, &atributos, argv.data(), environ);
  posix_spawn_file_actions_destroy(&acoes);
  posix_spawnattr_destroy(&atributos);
  if (erro != 0) throw std::system_error(erro, std::generic_category(), "launch: não foi possível iniciar o processo");
}

}  // namespace run
