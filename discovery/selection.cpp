#include "discovery/selection.hpp"

#include <optional>

#include "net/json_view.hpp"

namespace discovery {

namespace {

const net::Json& membro(const net::Json& objeto, const char* nome, const char* onde) {
  if (!objeto.is_object()) throw ListaInvalida(std::string(onde) + " não é um objeto: " + net::compactJson(objeto).substr(0, 200));
  const auto encontrado = objeto.find(nome);
  if (encontrado == objeto.end()) throw ListaInvalida(std::string(onde) + " sem o membro \"" + nome + "\"");
  return *encontrado;
}

const net::Json* opcional(const net::Json& objeto, const char* nome) {
  const auto encontrado = objeto.find(nome);
  return encontrado == objeto.end() ? nullptr : &*encontrado;
}

const net::Json& lista(const net::Json& valor, const char* nome) {
  if (!valor.is_array()) throw ListaInvalida(std::string("\"") + nome + "\" não é uma lista");
  return valor;
}

const net::Json& objeto(const net::Json& valor, const char* onde) {
  if (!valor.is_object()) throw ListaInvalida(std::string(onde) + " não é um objeto");
  return valor;
}

bool textoVazio(const net::Json& valor) { return valor.is_string() && valor.get_ref<const std::string&>().empty(); }

// The entry's own values, as the registry gave them.
struct Cliente {
  net::Json nome;
  net::Json numero;  // as decimal text
  net::Json parceiro;
};

void selecionarLinks(const net::Json& produto, const Cliente& cliente, ListaClientes& saida) {
  const net::Json* links = opcional(produto, "link");
  if (links == nullptr) return;
  for (const auto& elemento : lista(*links, "link")) {
    const auto& link = objeto(elemento, "link");
    const net::Json* tipo = opcional(link, "tipo");
    const net::Json* endereco = opcional(link, "link");
    if (tipo == nullptr || *tipo != "zabbix" || endereco == nullptr) continue;
    if (textoVazio(*endereco) || textoVazio(cliente.nome)) continue;
    saida.emplace_back(*endereco, cliente.nome, cliente.numero, cliente.parceiro);
  }
}

void selecionarEntrada(const net::Json& entrada, ListaClientes& saida) {
  // The three members are required of every entry, selected or not.
  Cliente cliente;
  cliente.nome = membro(entrada, "empresa", "cliente");
  cliente.numero = numeroComoTexto(membro(entrada, "numero", "cliente"));
  cliente.parceiro = membro(entrada, "parceiro", "cliente");
  const net::Json* produtos = opcional(entrada, "produto");
  if (produtos == nullptr) return;
  for (const auto& elemento : lista(*produtos, "produto")) {
    const auto& produto = objeto(elemento, "produto");
    if (membro(produto, "tipo", "produto") != "ornivex") continue;
    selecionarLinks(produto, cliente, saida);
  }
}

// The quick way through a large list: each entry is read in place and only the values
// of selected links become JSON values. It gives up (nullopt) on anything that is not
// plainly right, and the slow way then finds the same links or the precise failure.
class SelecaoRapida {
 public:
  explicit SelecaoRapida(ListaClientes& saida) : saida_(saida) {}

  // False where selecionarEntrada would throw.
  bool entrada(const net::NosJson& nos) {
    nos_ = &nos;
    if (nos[0].tipo != Tipo::objeto) return false;
    nome_ = membro(0, "empresa");
    numero_ = membro(0, "numero");
    parceiro_ = membro(0, "parceiro");
    if (nome_ == 0 || numero_ == 0 || parceiro_ == 0) return false;
    const std::size_t produtos = membro(0, "produto");
    if (produtos == 0) return true;
    if (nos[produtos].tipo != Tipo::lista) return false;
    for (std::size_t produto = produtos + 1; produto < nos[produtos].fim; produto = nos[produto].fim) {
      if (nos[produto].tipo != Tipo::objeto) return false;
      const std::size_t tipo = membro(produto, "tipo");
      if (tipo == 0) return false;
      if (texto(tipo, "ornivex") && !links(produto)) return false;
    }
    return true;
  }

 private:
  using Tipo = net::NoJson::Tipo;

  bool links(std::size_t produto) {
    const auto& nos = *nos_;
    const std::size_t lista = membro(produto, "link");
    if (lista == 0) return true;
    if (nos[lista].tipo != Tipo::lista) return false;
    for (std::size_t link = lista + 1; link < nos[lista].fim; link = nos[link].fim) {
      if (nos[link].tipo != Tipo::objeto) return false;
      const std::size_t tipo = membro(link, "tipo");
      const std::size_t endereco = membro(link, "link");
      if (tipo == 0 || !texto(tipo, "zabbix") || endereco == 0) continue;
      if (texto(endereco, "") || texto(nome_, "")) continue;
      saida_.emplace_back(valor(endereco), valor(nome_), numeroComoTexto(valor(numero_)), valor(parceiro_));
    }
    return true;
  }

  std::size_t membro(std::size_t objeto, std::string_view nome) { return net::membroJson(*nos_, objeto, nome, espaco_); }

  bool texto(std::size_t no, std::string_view esperado) {
    const auto& n = (*nos_)[no];
    return n.tipo == Tipo::texto && net::textoDe(n, espaco_) == esperado;
  }

  // The value the JSON library would have built.
  net::Json valor(std::size_t no) {
    const auto& n = (*nos_)[no];
    if (n.tipo == Tipo::texto && !n.escapado) return std::string(net::textoDe(n, espaco_));
    return net::parseJson(n.bruto);
  }

  ListaClientes& saida_;
  const net::NosJson* nos_ = nullptr;
  std::string espaco_;
  std::size_t nome_ = 0, numero_ = 0, parceiro_ = 0;
};

std::optional<ListaClientes> selecionarRapido(std::string_view corpo) {
  net::ElementosJson elementos(corpo);
  if (!elementos.abrir()) return std::nullopt;
  ListaClientes saida;
  SelecaoRapida selecao(saida);
  net::NosJson nos;
  try {
    for (;;) {
      switch (elementos.proximo(nos)) {
        case net::ElementosJson::Passo::fim:
          return saida;
        case net::ElementosJson::Passo::incerto:
          return std::nullopt;
        case net::ElementosJson::Passo::numero:
          selecionarEntrada(net::parseJson(nos[0].bruto), saida);
          break;
        case net::ElementosJson::Passo::elemento:
          if (!selecao.entrada(nos)) return std::nullopt;
      }
    }
  } catch (const std::exception&) {
    return std::nullopt;  // the slow way finds it again and says it precisely
  }
}

}  // namespace

net::Json numeroComoTexto(const net::Json& numero) {
  if (numero.is_string()) return numero;
  return net::compactJson(numero);
}

ListaClientes selecionarClientes(const net::Json& listaClientesDados) {
  ListaClientes saida;
  if (textoVazio(listaClientesDados) || listaClientesDados == net::Json::object()) return saida;
  if (!listaClientesDados.is_array()) {
    throw ListaInvalida("a lista de clientes não é uma lista: " + net::compactJson(listaClientesDados).substr(0, 200));
  }
  for (const auto& entrada : listaClientesDados) selecionarEntrada(entrada, saida);
  return saida;
}

SelecaoDoCorpo selecionarDoCorpo(std::string_view corpo) {
  SelecaoDoCorpo selecao;
  if (auto lista = selecionarRapido(corpo)) {
    selecao.lista = std::move(*lista);
    return selecao;
  }
  const auto porEntrada = [&selecao](net::Json& entrada) {
    try {
      selecionarEntrada(entrada, selecao.lista);
      return true;
    } catch (...) {
      selecao.falha = std::current_exception();
      return false;  // the rest is only checked as JSON
    }
  };
  if (const auto documento = net::parseJsonPorElemento(corpo, porEntrada)) {
    try {
      selecao.lista = selecionarClientes(*documento);
    } catch (...) {
      selecao.falha = std::current_exception();
    }
  }
  if (selecao.falha) selecao.lista.clear();
  return selecao;
}

}  // namespace discovery
