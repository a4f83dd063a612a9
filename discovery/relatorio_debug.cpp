#include "discovery/relatorio_debug.hpp"

#include "base/constants.hpp"

namespace discovery {

using records::RegistroDescoberta;

namespace {

using namespace std::string_literals;

std::string faixa(std::size_t antes, const char* titulo, std::size_t depois) {
  return "\n..."s + std::string(antes, '=') + " " + titulo + " " + std::string(depois, '=') + "...\n";
}

std::string colorido(std::string_view cor, const std::string& texto) {
  return std::string(cor) + texto + std::string(base::RESET);
}

std::string textoPppoe(const std::optional<std::int64_t>& pppoe) { return pppoe ? std::to_string(*pppoe) : "None"; }

std::string linhaCliente(const RegistroDescoberta& r) {
  return "Cliente: " + r.cliente + " | PPPoE: " + textoPppoe(r.pppoe) + " | Status: " + std::to_string(r.status) +
         " | Número: " + std::to_string(r.numero) + " | Parceiro: " + r.parceiro;
}

}  // namespace

std::string montarRelatorio(const records::ResultadoDescoberta& descobertaPPPoE) {
  std::string saida = "Modo debug ativado:\n";
  // The version and a separate "\n" printed as two items: a space between them.
  saida += colorido(base::GREEN, "\nVersão do script: " + std::string(base::VERSION)) + " \n\n";
  saida += colorido(base::CYAN, faixa(34, "PPPoEs dos Clientes", 32)) + "\n";
  for (const auto& registro : descobertaPPPoE) saida += linhaCliente(registro) + "\n";
  saida += colorido(base::CYAN, faixa(42, "Clientes com Problema", 45)) + "\n";
  for (const auto& registro : descobertaPPPoE) {
    if (registro.status == 0) saida += colorido(base::YELLOW, "Cliente: " + registro.cliente) + "\n";
  }
  saida += colorido(base::YELLOW, "\nCaso não haja retorno, entre em contato com a Tarquel.") + "\n";
  return saida;
}

}  // namespace discovery
