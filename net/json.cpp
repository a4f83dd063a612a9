#include "net/json.hpp"

#include <cstdint>

namespace net {

namespace {

constexpr char HEX[] = "0123456789abcdef";

void escapeUnit(std::string& saida, std::uint32_t unidade) {
  saida += "\\u";
  for (int deslocamento = 12; deslocamento >= 0; deslocamento -= 4) saida.push_back(HEX[(unidade >> deslocamento) & 0xF]);
}

[[noreturn]] void invalidUtf8(std::size_t posicao) {
  throw JsonEncodeError("text is not valid UTF-8 (byte " + std::to_string(posicao) + ")");
}

// Decodes the code point that starts at `i` and advances `i` past it.
std::uint32_t decodeUtf8(std::string_view texto, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(texto[k]); };
  const unsigned char primeiro = byte(i);
  std::size_t extras;
  std::uint32_t cp;
  std::uint32_t minimo;
  if (primeiro >= 0xC2 && primeiro <= 0xDF) {
    extras = 1, cp = primeiro & 0x1F, minimo = 0x80;
  } else if (primeiro >= 0xE0 && primeiro <= 0xEF) {
    extras = 2, cp = primeiro & 0x0F, minimo = 0x800;
  } else if (primeiro >= 0xF0 && primeiro <= 0xF4) {
    extras = 3, cp = primeiro & 0x07, minimo = 0x10000;
  } else {
    invalidUtf8(i);
  }
  if (i + extras >= texto.size()) invalidUtf8(i);
  for (std::size_t k = 1; k <= extras; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) invalidUtf8(i + k);
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) invalidUtf8(i);
  i += extras + 1;
  return cp;
}

void writeString(std::string& saida, std::string_view texto) {
  saida.push_back('"');
  for (std::size_t i = 0; i < texto.size();) {
    const auto c = static_cast<unsigned char>(texto[i]);
    if (c >= 0x80) {
      const std::uint32_t cp = decodeUtf8(texto, i);
      if (cp < 0x10000) {
        escapeUnit(saida, cp);
      } else {
        escapeUnit(saida, 0xD800 + ((cp - 0x10000) >> 10));
        escapeUnit(saida, 0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
      continue;
    }
    switch (c) {
      case '"': saida += "\\\""; break;
      case '\\': saida += "\\\\"; break;
      case '\b': saida += "\\b"; break;
      case '\f': saida += "\\f"; break;
      case '\n': saida += "\\n"; break;
      case '\r': saida += "\\r"; break;
      case '\t': saida += "\\t"; break;
      default:
        if (c < 0x20) {
          escapeUnit(saida, c);
        } else {
          saida.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  saida.push_back('"');
}

void writeValue(std::string& saida, const Json& valor) {
  switch (valor.type()) {
    case Json::value_t::object: {
      saida.push_back('{');
      const char* separador = "";
      for (const auto& [chave, membro] : valor.items()) {
        saida += separador;
        writeString(saida, chave);
        saida += ": ";
        writeValue(saida, membro);
        separador = ", ";
      }
      saida.push_back('}');
      break;
    }
    case Json::value_t::array: {
      saida.push_back('[');
      const char* separador = "";
      for (const auto& elemento : valor) {
        saida += separador;
        writeValue(saida, elemento);
        separador = ", ";
      }
      saida.push_back(']');
      break;
    }
    case Json::value_t::string:
      writeString(saida, valor.get_ref<const std::string&>());
      break;
    default:  // null, booleans and numbers have one spelling
      saida += valor.dump();
  }
}

// Counts brackets outside strings. Exact for any text the parser accepts, which is all
// that matters: on anything else the parser fails on its own.
bool tooDeep(std::string_view body) {
  std::size_t profundidade = 0;
  bool emTexto = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (emTexto) {
      if (c == '\\') ++i;
      else if (c == '"') emTexto = false;
    } else if (c == '"') {
      emTexto = true;
    } else if (c == '[' || c == '{') {
      if (++profundidade > MAX_JSON_DEPTH) return true;
    } else if ((c == ']' || c == '}') && profundidade > 0) {
      --profundidade;
    }
  }
  return false;
}

// SAX events of a document: an array's elements are built one at a time (with the
// library's own tree builder, so each is the value a whole parse would have held);
// anything else is built whole.
class PorElemento {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  explicit PorElemento(const std::function<bool(Json&)>& elemento) : elemento_(elemento), construtor_(valor_) {}

  bool null() { return escalar([&] { return construtor_.null(); }); }
  bool boolean(bool v) { return escalar([&] { return construtor_.boolean(v); }); }
  bool number_integer(number_integer_t v) { return escalar([&] { return construtor_.number_integer(v); }); }
  bool number_unsigned(number_unsigned_t v) { return escalar([&] { return construtor_.number_unsigned(v); }); }
  bool number_float(number_float_t v, const string_t& s) { return escalar([&] { return construtor_.number_float(v, s); }); }
  bool string(string_t& v) { return escalar([&] { return construtor_.string(v); }); }
  bool binary(binary_t& v) { return escalar([&] { return construtor_.binary(v); }); }
  bool key(string_t& v) { return !construindo() || construtor_.key(v); }
  bool start_object(std::size_t n) { return abrir(false, [&] { return construtor_.start_object(n); }); }
  bool start_array(std::size_t n) { return abrir(true, [&] { return construtor_.start_array(n); }); }
  bool end_object() { return fechar([&] { return construtor_.end_object(); }); }
  bool end_array() { return fechar([&] { return construtor_.end_array(); }); }

  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& erro) {
    throw erro;
  }

  bool emLista() const { return modo_ == Modo::lista; }
  Json& documento() { return valor_; }

 private:
  enum class Modo { inicio, inteiro, lista };

  // Whether events go to the tree builder: the whole document, or a wanted element.
  bool construindo() const { return modo_ == Modo::inteiro || (querMais_ && profundidade_ >= 2); }

  template <class Evento>
  bool escalar(Evento&& evento) {
    if (modo_ == Modo::inicio) modo_ = Modo::inteiro;
    if (modo_ == Modo::inteiro) return evento();
    if (!querMais_) return true;
    evento();
    if (profundidade_ == 1) entregar();  // the element itself is this value
    return true;
  }

  template <class Evento>
  bool abrir(bool array, Evento&& evento) {
    if (modo_ == Modo::inicio) modo_ = array ? Modo::lista : Modo::inteiro;
    if (modo_ == Modo::inteiro) return evento();
    ++profundidade_;
    return !construindo() || evento();
  }

  template <class Evento>
  bool fechar(Evento&& evento) {
    if (modo_ == Modo::inteiro) return evento();
    const bool construia = construindo();
    --profundidade_;
    if (construia) {
      evento();
      if (profundidade_ == 1) entregar();
    }
    return true;
  }

  void entregar() {
    querMais_ = elemento_(valor_);
    valor_ = nullptr;
  }

  const std::function<bool(Json&)>& elemento_;
  Json valor_;
  nlohmann::detail::json_sax_dom_parser<Json> construtor_;
  Modo modo_ = Modo::inicio;
  std::size_t profundidade_ = 0;  // 1 inside the top array, 2 inside one of its elements
  bool querMais_ = true;
};

void checkDepth(std::string_view body) {
  if (tooDeep(body)) {
    throw JsonDecodeError("invalid JSON: nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
  }
}

// A number past what a double holds ("1e400") comes from the parser as out_of_range 406,
// not as a parse error; it is a body we cannot read all the same.
[[noreturn]] void semNumero(const Json::out_of_range& erro) {
  if (erro.id != 406) throw erro;
  throw JsonDecodeError(std::string("invalid JSON: ") + erro.what());
}

}  // namespace

Json parseJson(std::string_view body) {
  checkDepth(body);
  try {
    return Json::parse(body.begin(), body.end());
  } catch (const Json::parse_error& erro) {
    throw JsonDecodeError(std::string("invalid JSON: ") + erro.what());
  } catch (const Json::out_of_range& erro) {
    semNumero(erro);
  }
}

std::optional<Json> parseJsonPorElemento(std::string_view body, const std::function<bool(Json&)>& elemento) {
  checkDepth(body);
  PorElemento eventos(elemento);
  try {
    Json::sax_parse(body.begin(), body.end(), &eventos);
  } catch (const Json::parse_error& erro) {
    throw JsonDecodeError(std::string("invalid JSON: ") + erro.what());
  } catch (const Json::out_of_range& erro) {
    semNumero(erro);
  }
  if (eventos.emLista()) return std::nullopt;
  return std::move(eventos.documento());
}

std::string serializar(const Json& valor) {
  std::string saida;
  writeValue(saida, valor);
  return saida;
}

std::string compactJson(const Json& valor) {
  try {
    return valor.dump(-1, ' ', true);
  } catch (const Json::type_error& erro) {
    throw JsonEncodeError(erro.what());
  }
}

std::string plainText(const Json& valor) {
  return valor.is_string() ? valor.get<std::string>() : compactJson(valor);
}

}  // namespace net
