// A quick, strict reading of a JSON array's elements in place, for large bodies: each
// element becomes a flat list of nodes that point into the body; nothing is copied or
// decoded unless asked. It never reads a text differently from parseJson: on anything
// parseJson might refuse or read otherwise it says so, and the caller reads the body
// with parseJson, which gives the precise failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct NoJson {
  enum class Tipo : std::uint8_t { objeto, lista, texto, numero, literal };
  Tipo tipo;
  bool escapado = false;  // texto: holds a backslash escape
  std::uint32_t fim = 0;  // index of the first node after this value's subtree
  std::string_view bruto; // the value's own text (a texto with its quotes)
};

/// The nodes of one value, in document order: an objeto is followed by its members as
/// a texto key and the key's value, a lista by its elements.
using NosJson = std::vector<NoJson>;

class ElementosJson {
 public:
  enum class Passo {
    elemento,  // the next element, read whole
    numero,    // the next element, but it holds a number only parseJson reads exactly
    fim,       // the closing bracket, then only white space
    incerto,   // anything else: read the body with parseJson instead
  };

  explicit ElementosJson(std::string_view corpo) : corpo_(corpo) {}

  /// Whether the body starts with an array (after white space).
  bool abrir();

  /// Reads the next element into `nos` (cleared first).
  Passo proximo(NosJson& nos);

 private:
  bool valor(NosJson& nos, std::size_t profundidade);
  bool composto(NosJson& nos, NoJson::Tipo tipo, std::size_t profundidade);
  bool chave(NosJson& nos);
  bool texto(NosJson& nos);
  bool numero(NosJson& nos);
  bool literal(NosJson& nos, std::string_view palavra);
  void espacos();

  std::string_view corpo_;
  std::size_t pos_ = 0;
  bool numeroIncomum_ = false;
};

/// A texto node's decoded text: a view of the body when it holds no escape, else
/// decoded into `espaco`.
std::string_view textoDe(const NoJson& no, std::string& espaco);

/// The index of the value of the last member named `nome` of the objeto node at `objeto`
/// (the one parseJson keeps when a name repeats), or 0 when there is none.
std::size_t membroJson(const NosJson& nos, std::size_t objeto, std::string_view nome, std::string& espaco);

}  // namespace net
