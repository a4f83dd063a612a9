// The JSON serialiser round trip. Whatever the parser accepts, serialize writes as one
// ASCII line that parses back to the same value (and compactJson likewise); a text that
// is not UTF-8 only ever makes serialize throw JsonEncodeError.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.hpp"
#include "net/json.hpp"

namespace {

void linhaAscii(const std::string& linha) {
  for (const char c : linha) {
    const auto b = static_cast<unsigned char>(c);
    fuzz::require(b >= 0x20 && b < 0x80, "serialize wrote a byte outside printable ASCII");
  }
}

void comoDocumento(std::string_view bytes) {
  net::Json valor;
  try {
    valor = net::parseJson(bytes);
  } catch (const net::JsonError&) {
    return;
  }
  const std::string linha = net::serialize(valor);
  linhaAscii(linha);
  const net::Json devolvido = net::parseJson(linha);
  fuzz::require(devolvido == valor, "serialize then parseJson changed the value");
  fuzz::require(net::serialize(devolvido) == linha, "serialize is not stable across a round trip");
  fuzz::require(net::parseJson(net::compactJson(valor)) == valor, "compactJson then parseJson changed the value");
  if (valor.is_object() && !valor.empty()) {
    fuzz::require(devolvido.begin().key() == valor.begin().key(), "member order changed");
  }
}

void comoTexto(std::string_view bytes) {
  const net::Json texto = std::string(bytes);
  const bool valido = fuzz::validUtf8(bytes);
  std::string linha;
  try {
    linha = net::serialize(net::Json{{std::string(valido ? bytes : "k"), texto}});
  } catch (const net::JsonEncodeError&) {
    fuzz::require(!valido, "serialize refused valid UTF-8");
    return;
  }
  fuzz::require(valido, "serialize accepted text that is not UTF-8");
  linhaAscii(linha);
  const net::Json devolvido = net::parseJson(linha);
  fuzz::require(devolvido.size() == 1 && devolvido.begin().value() == texto, "text did not survive the round trip");
  try {
    net::compactJson(texto);
    fuzz::require(valido, "compactJson accepted text that is not UTF-8");
  } catch (const net::JsonEncodeError&) {
    fuzz::require(!valido, "compactJson refused valid UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  comoDocumento(bytes);
  comoTexto(bytes);
  return 0;
}
