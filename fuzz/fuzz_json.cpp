// The JSON serialiser round trip. Whatever the parser accepts, serializar writes as one
// ASCII line that parses back to the same value (and compactJson likewise); a text that
// is not UTF-8 only ever makes serializar throw JsonEncodeError. The quick in-place
// reading of arrays never reads a text otherwise than parseJson.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.hpp"
#include "net/json.hpp"
#include "net/json_view.hpp"

namespace {

void linhaAscii(const std::string& linha) {
  for (const char c : linha) {
    const auto b = static_cast<unsigned char>(c);
    fuzz::exigir(b >= 0x20 && b < 0x80, "serializar wrote a byte outside printable ASCII");
  }
}

void comoDocumento(std::string_view bytes) {
  net::Json valor;
  try {
    valor = net::parseJson(bytes);
  } catch (const net::JsonDecodeError&) {
    return;
  }
  const std::string linha = net::serializar(valor);
  linhaAscii(linha);
  const net::Json devolvido = net::parseJson(linha);
  fuzz::exigir(devolvido == valor, "serializar then parseJson changed the value");
  fuzz::exigir(net::serializar(devolvido) == linha, "serializar is not stable across a round trip");
  fuzz::exigir(net::parseJson(net::compactJson(valor)) == valor, "compactJson then parseJson changed the value");
  if (valor.is_object() && !valor.empty()) {
    fuzz::exigir(devolvido.begin().key() == valor.begin().key(), "member order changed");
  }
}

void comoTexto(std::string_view bytes) {
  const net::Json texto = std::string(bytes);
  const bool valido = fuzz::utf8Valido(bytes);
  std::string linha;
  try {
    linha = net::serializar(net::Json{{std::string(valido ? bytes : "k"), texto}});
  } catch (const net::JsonEncodeError&) {
    fuzz::exigir(!valido, "serializar refused valid UTF-8");
    return;
  }
  fuzz::exigir(valido, "serializar accepted text that is not UTF-8");
  linhaAscii(linha);
  const net::Json devolvido = net::parseJson(linha);
  fuzz::exigir(devolvido.size() == 1 && devolvido.begin().value() == texto, "text did not survive the round trip");
  try {
    net::compactJson(texto);
    fuzz::exigir(valido, "compactJson accepted text that is not UTF-8");
  } catch (const net::JsonEncodeError&) {
    fuzz::exigir(!valido, "compactJson refused valid UTF-8");
  }
}

bool mesmoTipo(const net::NoJson& no, const net::Json& valor) {
  switch (no.tipo) {
    case net::NoJson::Tipo::objeto: return valor.is_object();
    case net::NoJson::Tipo::lista: return valor.is_array();
    case net::NoJson::Tipo::texto: return valor.is_string();
    case net::NoJson::Tipo::numero: return valor.is_number();
    case net::NoJson::Tipo::literal: return valor.is_boolean() || valor.is_null();
  }
  return false;
}

// Every node is the value the library reads from the node's own text: same type, same
// decoded text, the same member for each name (the last one when a name repeats), the
// same number of elements.
void mesmosNos(const net::NosJson& nos) {
  std::string espaco;
  for (std::size_t i = 0; i < nos.size(); ++i) {
    const net::Json valor = net::parseJson(nos[i].bruto);
    fuzz::exigir(mesmoTipo(nos[i], valor), "a node of another type than the library's");
    if (valor.is_string()) {
      fuzz::exigir(net::textoDe(nos[i], espaco) == valor.get_ref<const std::string&>(), "a text decoded otherwise");
    } else if (valor.is_object()) {
      for (const auto& [nome, membro] : valor.items()) {
        const std::size_t achado = net::membroJson(nos, i, nome, espaco);
        fuzz::exigir(achado != 0 && net::parseJson(nos[achado].bruto) == membro, "another member for a name");
      }
    } else if (valor.is_array()) {
      std::size_t elementos = 0;
      for (std::size_t k = i + 1; k < nos[i].fim; k = nos[k].fim) ++elementos;
      fuzz::exigir(elementos == valor.size(), "another number of elements");
    }
  }
}

void comoLista(std::string_view bytes) {
  net::ElementosJson elementos(bytes);
  if (!elementos.abrir()) return;
  net::Json lidos = net::Json::array();
  net::NosJson nos;
  for (;;) {
    const auto passo = elementos.proximo(nos);
    if (passo == net::ElementosJson::Passo::incerto) return;
    if (passo == net::ElementosJson::Passo::fim) break;
    try {
      lidos.push_back(net::parseJson(nos[0].bruto));
      mesmosNos(nos);
    } catch (const net::JsonDecodeError&) {
      // Only a number beyond a double's range, which fails the whole body as well.
      fuzz::exigir(passo == net::ElementosJson::Passo::numero, "an element read quickly that the library refuses");
      try {
        net::parseJson(bytes);
      } catch (const net::JsonDecodeError&) {
        return;
      }
      fuzz::exigir(false, "an element refused that the whole body holds");
    }
  }
  net::Json inteiro;
  try {
    inteiro = net::parseJson(bytes);
  } catch (const net::JsonDecodeError&) {
    fuzz::exigir(false, "an array read quickly to its end that the library refuses");
  }
  fuzz::exigir(inteiro == lidos, "the quick reading found other elements");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  comoDocumento(bytes);
  comoTexto(bytes);
  comoLista(bytes);
  return 0;
}
