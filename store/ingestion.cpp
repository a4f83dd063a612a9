#include "store/ingestion.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/deadline.hpp"
#include "net/json.hpp"

namespace store {

namespace {

// Statuses of a server or proxy that is restarting or overloaded; any other is final.
bool statusTransitorio(long status) {
  switch (status) {
    case 500:
    case 503:
    case 504:
    case 507:
    case 509:
    case 523:
    case 524:
    case 529:
    case 599: return true;
    default: return false;
  }
}

// A failure that sending the same rows again may overcome.
class FalhaTransitoria : public IngressError {
 public:
  using IngressError::IngressError;
};

// The rows are kept in blocks of this size: a buffer grown as one string would hold up to
// twice its rows while it grows.
constexpr std::size_t TAMANHO_BLOCO = std::size_t{64} * 1024;

constexpr std::chrono::milliseconds PRIMEIRA_PAUSA{10};
constexpr std::chrono::milliseconds MAIOR_PAUSA{1000};

// Sleeps, but never past the run's deadline: the limit wins over any retry.
void pausar(std::chrono::milliseconds pausa) {
  auto ate = std::chrono::steady_clock::now() + pausa;
  if (const auto prazo = base::deadline::current()) ate = std::min(ate, *prazo);
  std::this_thread::sleep_until(ate);
  base::deadline::check();
}

// Backslash before the bytes that would end a name or value early; UTF-8 passes as is.
void escapar(std::string& saida, std::string_view texto) {
  for (const char c : texto) {
    if (c == ' ' || c == ',' || c == '=' || c == '\\' || c == '\n' || c == '\r') saida.push_back('\\');
    saida.push_back(c);
  }
}

void exigirNome(std::string_view nome, const char* oQue) {
  if (nome.empty()) throw IngressError(std::string("nome de ") + oQue + " vazio");
}

void escreverValor(std::string& saida, const ValorColuna& valor) {
  if (const auto* inteiro = std::get_if<std::int64_t>(&valor)) {
    saida += std::to_string(*inteiro) + "i";
  } else {
    saida += std::to_string(std::get<TimestampMicros>(valor).micros) + "t";
  }
}

// The server's own words, on one line, so that the caller's report stays one line.
std::string umaLinha(const std::string& texto) {
  std::string saida;
  bool emQuebra = false;
  for (const char c : texto) {
    const bool quebra = c == '\n' || c == '\r' || c == '\t';
    if (quebra) {
      emQuebra = true;
      continue;
    }
    if (emQuebra && !saida.empty() && saida.back() != ' ') saida.push_back(' ');
    emQuebra = false;
    saida.push_back(c);
  }
  while (!saida.empty() && saida.back() == ' ') saida.pop_back();
  return saida;
}

std::string textoDoServidor(const net::HttpResponse& resposta) {
  try {
    const net::Json corpo = net::parseJson(resposta.body);
    if (corpo.is_object() && corpo.contains("message") && corpo["message"].is_string()) {
      std::string texto = umaLinha(corpo["message"].get<std::string>());
      if (corpo.contains("line") && corpo["line"].is_number())
        texto += " [linha " + net::plainText(corpo["line"]) + "]";
      return texto;
    }
  } catch (const net::JsonError&) {
    // not JSON: a proxy's page or QuestDB's plain-text answer, given as it came
  }
  return umaLinha(resposta.body);
}

}  // namespace

std::string linhaProtocolo(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas,
                           TimestampNanos at) {
  exigirNome(tabela, "tabela");
  std::string linha;
  escapar(linha, tabela);
  for (const auto& [nome, valor] : simbolos) {
    exigirNome(nome, "símbolo");
    linha.push_back(',');
    escapar(linha, nome);
    linha.push_back('=');
    escapar(linha, valor);
  }
  char separador = ' ';
  for (const auto& [nome, valor] : colunas) {
    exigirNome(nome, "coluna");
    if (std::holds_alternative<std::monostate>(valor)) continue;
    linha.push_back(separador);
    escapar(linha, nome);
    linha.push_back('=');
    escreverValor(linha, valor);
    separador = ',';
  }
  if (separador == ' ') throw IngressError("linha da tabela '" + std::string(tabela) + "' sem nenhuma coluna");
  linha += " " + std::to_string(at.nanos) + "\n";
  return linha;
}

std::int64_t nanosSistema() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Espera esperaReal() {
  return {[] { return std::chrono::steady_clock::now(); }, pausar};
}

Sender::Sender(net::HttpClient& http, DestinoQuestDb destino, RelogioNanos relogio, Espera espera)
    : http_(http), destino_(std::move(destino)), relogio_(std::move(relogio)), espera_(std::move(espera)) {}

TimestampNanos Sender::now() {
  const std::int64_t lido = relogio_();
  ultimaHora_ = ultimaHora_ ? std::max(*ultimaHora_, lido) : lido;
  return {*ultimaHora_};
}

void Sender::exigirAberto() const {
  if (fechado_) throw IngressError("o sender já foi fechado");
}

void Sender::row(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas, TimestampNanos at) {
  exigirAberto();
  const std::string linha = linhaProtocolo(tabela, simbolos, colunas, at);
  if (buffer_.empty() || buffer_.back().size() + linha.size() > buffer_.back().capacity()) {
    buffer_.emplace_back().reserve(std::max(TAMANHO_BLOCO, linha.size()));
  }
  buffer_.back() += linha;
}

net::HttpRequest Sender::pedidoEscrita() const {
  net::HttpRequest pedido;
  pedido.method = "POST";
  pedido.url = "https://" + destino_.host + ":" + std::to_string(destino_.porta) + "/write";
  pedido.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
  pedido.followRedirects = false;
  pedido.basic = destino_.credenciais;
  return pedido;
}

void Sender::flush() {
  exigirAberto();
  if (buffer_.empty()) return;
  net::HttpRequest pedido = pedidoEscrita();
  // The rows travel in the request rather than in a copy of them (about 1 MB for 5 000
  // customers); a send that fails in any way gives them back to the buffer.
  pedido.bodyParts = std::move(buffer_);
  buffer_.clear();
  try {
    const auto inicio = espera_.agora();
    for (auto pausa = PRIMEIRA_PAUSA;; pausa = std::min(2 * pausa, MAIOR_PAUSA)) {
      try {
        enviar(pedido);
        return;
      } catch (const FalhaTransitoria& falha) {
        if (espera_.agora() - inicio >= espera_.limite) throw IngressError(falha.what());
      }
      espera_.pausar(pausa);
    }
  } catch (...) {
    buffer_ = std::move(pedido.bodyParts);
    throw;
  }
}

void Sender::enviar(const net::HttpRequest& pedido) const {
  net::HttpResponse resposta;
  try {
    resposta = http_.perform(pedido);
  } catch (const net::RequestException& e) {
    const std::string mensagem = "falha ao enviar as linhas para " + pedido.url + ": " + e.what();
    if (e.transient()) throw FalhaTransitoria(mensagem);
    throw IngressError(mensagem);
  }
  const std::string codigo = "HTTP " + std::to_string(resposta.status);
  // A redirect would be followed as a GET without the rows, and its answer read as stored.
  if (resposta.status >= 300 && resposta.status <= 399) {
    throw IngressError("o QuestDB respondeu com um redirecionamento (" + codigo + " para " +
                       (resposta.location.empty() ? "destino não informado" : resposta.location) +
                       "): as linhas não foram gravadas");
  }
  if (resposta.status >= 200 && resposta.status <= 299) return;
  const std::string texto = textoDoServidor(resposta);
  const std::string mensagem = "o QuestDB recusou as linhas (" + codigo + ")" + (texto.empty() ? "" : ": " + texto);
  if (statusTransitorio(resposta.status)) throw FalhaTransitoria(mensagem);
  throw IngressError(mensagem);
}

void Sender::close() noexcept {
  fechado_ = true;
  buffer_.clear();
}

}  // namespace store
