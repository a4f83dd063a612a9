#include "net/json_view.hpp"

#include "net/json.hpp"

namespace net {

namespace {

constexpr std::size_t DIGITOS_SIMPLES = 18;  // any integer this long fits an int64

bool espaco(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool digito(char c) { return c >= '0' && c <= '9'; }

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits at `p`, or -1.
long unidade(std::string_view s, std::size_t p) {
  if (p + 4 > s.size()) return -1;
  long valor = 0;
  for (std::size_t k = p; k < p + 4; ++k) {
    const int h = hex(s[k]);
    if (h < 0) return -1;
    valor = valor * 16 + h;
  }
  return valor;
}

// Length of the UTF-8 sequence at `p` (RFC 3629, as the JSON library checks it), or 0.
std::size_t utf8(std::string_view s, std::size_t p) {
  const auto b = [&](std::size_t k) { return p + k < s.size() ? static_cast<unsigned char>(s[p + k]) : 0u; };
  const auto em = [](unsigned v, unsigned de, unsigned ate) { return v >= de && v <= ate; };
  const unsigned c = b(0);
  if (em(c, 0xC2, 0xDF)) return em(b(1), 0x80, 0xBF) ? 2 : 0;
  if (em(c, 0xE0, 0xEF)) {
    const unsigned de = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned ate = c == 0xED ? 0x9F : 0xBF;
    return em(b(1), de, ate) && em(b(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (em(c, 0xF0, 0xF4)) {
    const unsigned de = c == 0xF0 ? 0x90 : 0x80;
    const unsigned ate = c == 0xF4 ? 0x8F : 0xBF;
    return em(b(1), de, ate) && em(b(2), 0x80, 0xBF) && em(b(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// Length of the escape at `p` (just after a backslash), or 0: a high surrogate must
// come with its low one, and a low one alone is refused, as the library does.
std::size_t escape(std::string_view s, std::size_t p) {
  if (p >= s.size()) return 0;
  switch (s[p]) {
    case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
      return 1;
    case 'u': break;
    default: return 0;
  }
  const long u = unidade(s, p + 1);
  if (u < 0 || (u >= 0xDC00 && u <= 0xDFFF)) return 0;
  if (u < 0xD800 || u > 0xDBFF) return 5;
  if (p + 6 >= s.size() || s[p + 5] != '\\' || s[p + 6] != 'u') return 0;
  const long baixa = unidade(s, p + 7);
  return baixa >= 0xDC00 && baixa <= 0xDFFF ? 11 : 0;
}

void utf8De(std::string& saida, unsigned long cp) {
  if (cp < 0x80) {
    saida.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    saida.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    saida.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    saida.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    saida.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    saida.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    saida.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    saida.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    saida.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    saida.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

void ElementosJson::espacos() {
  while (pos_ < corpo_.size() && espaco(corpo_[pos_])) ++pos_;
}

bool ElementosJson::abrir() {
  espacos();
  if (pos_ >= corpo_.size() || corpo_[pos_] != '[') return false;
  ++pos_;
  return true;
}

ElementosJson::Passo ElementosJson::proximo(NosJson& nos) {
  nos.clear();
  numeroIncomum_ = false;
  espacos();
  if (pos_ >= corpo_.size()) return Passo::incerto;
  if (corpo_[pos_] == ']') {
    ++pos_;
    espacos();
    return pos_ == corpo_.size() ? Passo::fim : Passo::incerto;
  }
  if (!valor(nos, 1)) return Passo::incerto;
  espacos();
  if (pos_ >= corpo_.size()) return Passo::incerto;
  if (corpo_[pos_] == ',') {
    ++pos_;
    espacos();
    if (pos_ < corpo_.size() && corpo_[pos_] == ']') return Passo::incerto;  // "[1,]"
  } else if (corpo_[pos_] != ']') {  // a closing bracket is read by the next call
    return Passo::incerto;
  }
  return numeroIncomum_ ? Passo::numero : Passo::elemento;
}

bool ElementosJson::valor(NosJson& nos, std::size_t profundidade) {
  if (pos_ >= corpo_.size()) return false;
  switch (corpo_[pos_]) {
    case '{': return composto(nos, NoJson::Tipo::objeto, profundidade + 1);
    case '[': return composto(nos, NoJson::Tipo::lista, profundidade + 1);
    case '"': return texto(nos);
    case 't': return literal(nos, "true");
    case 'f': return literal(nos, "false");
    case 'n': return literal(nos, "null");
    default: return numero(nos);
  }
}

bool ElementosJson::chave(NosJson& nos) {
  if (pos_ >= corpo_.size() || corpo_[pos_] != '"' || !texto(nos)) return false;
  espacos();
  if (pos_ >= corpo_.size() || corpo_[pos_] != ':') return false;
  ++pos_;
  return true;
}

bool ElementosJson::composto(NosJson& nos, NoJson::Tipo tipo, std::size_t profundidade) {
  if (profundidade > MAX_JSON_DEPTH) return false;
  const bool objeto = tipo == NoJson::Tipo::objeto;
  const char fecho = objeto ? '}' : ']';
  const std::size_t indice = nos.size();
  const std::size_t inicio = pos_++;
  nos.push_back({tipo, false, 0, {}});
  espacos();
  if (pos_ < corpo_.size() && corpo_[pos_] == fecho) {
    ++pos_;
  } else {
    for (;;) {
      espacos();
      if (objeto && !chave(nos)) return false;
      espacos();
      if (!valor(nos, profundidade)) return false;
      espacos();
      if (pos_ >= corpo_.size()) return false;
      if (corpo_[pos_++] == fecho) break;
      if (corpo_[pos_ - 1] != ',') return false;
    }
  }
  nos[indice].fim = static_cast<std::uint32_t>(nos.size());
  nos[indice].bruto = corpo_.substr(inicio, pos_ - inicio);
  return true;
}

bool ElementosJson::texto(NosJson& nos) {
  const std::size_t inicio = pos_++;
  bool escapado = false;
  for (;;) {
    if (pos_ >= corpo_.size()) return false;
    const auto c = static_cast<unsigned char>(corpo_[pos_]);
    if (c == '"') break;
    if (c < 0x20) return false;
    if (c == '\\') {
      const std::size_t n = escape(corpo_, pos_ + 1);
      if (n == 0) return false;
      escapado = true;
      pos_ += 1 + n;
    } else if (c >= 0x80) {
      const std::size_t n = utf8(corpo_, pos_);
      if (n == 0) return false;
      pos_ += n;
    } else {
      ++pos_;
    }
  }
  ++pos_;
  nos.push_back({NoJson::Tipo::texto, escapado, static_cast<std::uint32_t>(nos.size() + 1),
                 corpo_.substr(inicio, pos_ - inicio)});
  return true;
}

bool ElementosJson::numero(NosJson& nos) {
  const std::size_t inicio = pos_;
  if (corpo_[pos_] == '-') ++pos_;
  const std::size_t inteiro = pos_;
  if (pos_ < corpo_.size() && corpo_[pos_] == '0') {
    ++pos_;
  } else if (pos_ < corpo_.size() && digito(corpo_[pos_])) {
    while (pos_ < corpo_.size() && digito(corpo_[pos_])) ++pos_;
  } else {
    return false;
  }
  const std::size_t digitos = pos_ - inteiro;
  bool incomum = digitos > DIGITOS_SIMPLES;
  const auto digitosDepois = [&] {
    const std::size_t de = pos_;
    while (pos_ < corpo_.size() && digito(corpo_[pos_])) ++pos_;
    return pos_ > de;
  };
  if (pos_ < corpo_.size() && corpo_[pos_] == '.') {
    ++pos_;
    if (!digitosDepois()) return false;
    incomum = true;
  }
  if (pos_ < corpo_.size() && (corpo_[pos_] == 'e' || corpo_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < corpo_.size() && (corpo_[pos_] == '+' || corpo_[pos_] == '-')) ++pos_;
    if (!digitosDepois()) return false;
    incomum = true;
  }
  // Fractions, exponents and long integers go to the library (a double's range).
  numeroIncomum_ = numeroIncomum_ || incomum;
  nos.push_back({NoJson::Tipo::numero, false, static_cast<std::uint32_t>(nos.size() + 1),
                 corpo_.substr(inicio, pos_ - inicio)});
  return true;
}

bool ElementosJson::literal(NosJson& nos, std::string_view palavra) {
  if (corpo_.substr(pos_, palavra.size()) != palavra) return false;
  nos.push_back({NoJson::Tipo::literal, false, static_cast<std::uint32_t>(nos.size() + 1),
                 corpo_.substr(pos_, palavra.size())});
  pos_ += palavra.size();
  return true;
}

std::string_view textoDe(const NoJson& no, std::string& espaco) {
  const std::string_view dentro = no.bruto.substr(1, no.bruto.size() - 2);
  if (!no.escapado) return dentro;
  espaco.clear();
  for (std::size_t i = 0; i < dentro.size();) {
    if (dentro[i] != '\\') {
      espaco.push_back(dentro[i++]);
      continue;
    }
    const char c = dentro[i + 1];
    i += 2;
    switch (c) {
      case 'b': espaco.push_back('\b'); break;
      case 'f': espaco.push_back('\f'); break;
      case 'n': espaco.push_back('\n'); break;
      case 'r': espaco.push_back('\r'); break;
      case 't': espaco.push_back('\t'); break;
      case 'u': {
        unsigned long cp = static_cast<unsigned long>(unidade(dentro, i));
        i += 4;
        if (cp >= 0xD800 && cp <= 0xDBFF) {  // checked when read: a low one follows
          cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<unsigned long>(unidade(dentro, i + 2)) - 0xDC00);
          i += 6;
        }
        utf8De(espaco, cp);
        break;
      }
      default: espaco.push_back(c);  // " \ /
    }
  }
  return espaco;
}

std::size_t membroJson(const NosJson& nos, std::size_t objeto, std::string_view nome, std::string& espaco) {
  std::size_t achado = 0;
  for (std::size_t chave = objeto + 1; chave < nos[objeto].fim; chave = nos[chave + 1].fim) {
    if (textoDe(nos[chave], espaco) == nome) achado = chave + 1;
  }
  return achado;
}

}  // namespace net
