#include "run/health.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/console.hpp"
#include "base/constants.hpp"

namespace run {

namespace {

// The outcome's label; an outcome without one does not compile (-Werror=switch).
constexpr const char* rotulo(Desfecho desfecho) {
  switch (desfecho) {
    case Desfecho::armazenado: return "stored";
    case Desfecho::relatorio: return "report";
    case Desfecho::falhou: return "failed";
    case Desfecho::ingestaoRecusada: return "ingestion_failed";
    case Desfecho::tempoEsgotado: return "time_limit";
    case Desfecho::linhaComando: return "command_line";
    case Desfecho::outroModo: return "other_mode";
  }
  return "";
}
constexpr const char* ULTIMO_SUCESSO = "coletor_pppoe_last_success_time_seconds";

double segundos(std::chrono::system_clock::time_point quando) {
  return std::chrono::duration<double>(quando.time_since_epoch()).count();
}

std::string numero(double valor) {
  char texto[32];
  std::snprintf(texto, sizeof texto, "%.3f", valor);
  return texto;
}

void metrica(std::ostringstream& saida, const char* nome, const char* ajuda,
             const std::vector<std::pair<std::string, std::string>>& amostras) {
  saida << "# HELP " << nome << ' ' << ajuda << "\n# TYPE " << nome << " gauge\n";
  for (const auto& [rotulos, valor] : amostras) saida << nome << rotulos << ' ' << valor << '\n';
}

bool escreverTudo(int fd, const std::string& texto) {
  for (std::size_t feito = 0; feito < texto.size();) {
    const ssize_t escrito = ::write(fd, texto.data() + feito, texto.size() - feito);
    if (escrito < 0) return false;
    feito += static_cast<std::size_t>(escrito);
  }
  return true;
}

// Replaces the file in one step; 0, or the errno of the step that failed.
int substituir(const std::string& caminho, const std::string& conteudo) {
  std::string temporario = caminho + ".XXXXXX";
  const int fd = ::mkstemp(temporario.data());
  if (fd < 0) return errno;
  int erro = 0;
  // The collector of another user reads it; the run's own umask may be stricter.
  if (::fchmod(fd, 0644) != 0 || !escreverTudo(fd, conteudo) || ::fsync(fd) != 0) erro = errno;
  if (::close(fd) != 0 && erro == 0) erro = errno;
  if (erro == 0 && ::rename(temporario.c_str(), caminho.c_str()) != 0) erro = errno;
  if (erro != 0) ::unlink(temporario.c_str());
  return erro;
}

}  // namespace

Saude::Saude(std::string caminho) : caminho_(std::move(caminho)) {}

std::string Saude::texto(Desfecho desfecho, int status, std::optional<double> ultimoSucesso) const {
  const auto agora = std::chrono::system_clock::now();
  const auto codigo = static_cast<std::size_t>(desfecho);
  if (desfecho == Desfecho::armazenado) ultimoSucesso = segundos(agora);
  std::ostringstream saida;
  metrica(saida, "coletor_pppoe_run_outcome",
          "How the last run ended: 0 stored, 1 report, 2 failed, 3 ingestion_failed, 4 time_limit, "
          "5 command_line, 6 other_mode.",
          {{std::string("{outcome=\"") + rotulo(desfecho) + "\"}", std::to_string(codigo)}});
  metrica(saida, "coletor_pppoe_run_exit_status", "Exit status of the last run.", {{"", std::to_string(status)}});
  metrica(saida, "coletor_pppoe_run_start_time_seconds", "When the last run started, in seconds since the epoch.",
          {{"", numero(segundos(inicio_))}});
  const std::chrono::duration<double> duracao = std::chrono::steady_clock::now() - inicioMonotonico_;
  metrica(saida, "coletor_pppoe_run_duration_seconds", "How long the last run took.", {{"", numero(duracao.count())}});
  if (totais_.clientesStatus1 >= 0) {
    metrica(saida, "coletor_pppoe_run_customers",
            "Customer links of the last run by status: 1 queried, 0 could not be reached.",
            {{"{status=\"1\"}", std::to_string(totais_.clientesStatus1)},
             {"{status=\"0\"}", std::to_string(totais_.clientesStatus0)}});
  }
  metrica(saida, "coletor_pppoe_run_rows_written", "Rows the last run stored in QuestDB.",
          {{"", std::to_string(totais_.linhasGravadas)}});
  metrica(saida, "coletor_pppoe_run_rows_left_out", "Rows the last run left out: the table cannot hold them.",
          {{"", std::to_string(totais_.linhasDeixadasDeFora)}});
  // 0 until a first run stores: an alert on its age then fires for a collector that never stored.
  metrica(saida, ULTIMO_SUCESSO, "When a run last stored its rows, in seconds since the epoch (0: never).",
          {{"", numero(ultimoSucesso.value_or(0))}});
  metrica(saida, "coletor_pppoe_build_info", "The build that wrote this file.",
          {{"{version=\"" + std::string(base::VERSION) + "\"}", "1"}});
  return saida.str();
}

void Saude::registrar(Desfecho desfecho, int status) {
  if (caminho_.empty()) return;
  std::optional<double> ultimoSucesso;
  if (std::ifstream anterior{caminho_}) {
    std::stringstream lido;
    lido << anterior.rdbuf();
    ultimoSucesso = ultimoSucessoEm(lido.str());
  }
  if (const int erro = substituir(caminho_, texto(desfecho, status, ultimoSucesso))) {
    base::console::warningLine("Aviso: não foi possível escrever o arquivo de saúde " + caminho_ + ": " +
                               std::strerror(erro));
  }
}

std::optional<double> ultimoSucessoEm(const std::string& texto) {
  const std::string inicio = std::string(ULTIMO_SUCESSO) + " ";
  std::istringstream linhas(texto);
  for (std::string linha; std::getline(linhas, linha);) {
    if (!linha.starts_with(inicio)) continue;
    double valor = 0;
    const char* fim = linha.data() + linha.size();
    const auto [parou, erro] = std::from_chars(linha.data() + inicio.size(), fim, valor);
    if (erro == std::errc{} && parou == fim) return valor;
  }
  return std::nullopt;
}

}  // namespace run
