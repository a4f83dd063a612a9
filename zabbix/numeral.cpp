#include "zabbix/numeral.hpp"

#include <charconv>
#include <string>

namespace zabbix {

namespace {

constexpr std::string_view ESPACOS = " \t\n\v\f\r";
// A peer may send megabytes where a number belongs; the message keeps only the start.
constexpr std::size_t MOSTRAR_ATE = 100;

[[noreturn]] void recusar(std::string_view texto) {
  std::string mostrado(texto.substr(0, MOSTRAR_ATE));
  if (texto.size() > MOSTRAR_ATE) mostrado += "...";
  throw NumeralInvalido("não é um numeral inteiro de 64 bits: \"" + mostrado + "\"");
}

std::string_view semEspacos(std::string_view texto) {
  const auto inicio = texto.find_first_not_of(ESPACOS);
  if (inicio == std::string_view::npos) return {};
  return texto.substr(inicio, texto.find_last_not_of(ESPACOS) - inicio + 1);
}

}  // namespace

std::int64_t lerNumeral(std::string_view texto) {
  std::string_view numeral = semEspacos(texto);
  // from_chars takes "-" but not "+"; a "+" must still be followed by a digit.
  if (!numeral.empty() && numeral.front() == '+') {
    numeral.remove_prefix(1);
    if (!numeral.empty() && numeral.front() == '-') recusar(texto);
  }
  if (numeral.empty()) recusar(texto);
  std::int64_t valor = 0;
  const char* fim = numeral.data() + numeral.size();
  const auto [parou, erro] = std::from_chars(numeral.data(), fim, valor);
  if (erro != std::errc{} || parou != fim) recusar(texto);
  return valor;
}

}  // namespace zabbix
