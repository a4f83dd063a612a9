#include "discovery/selection.hpp"

#include <string>

namespace discovery {

using records::ClienteDados;
using records::ListaClientes;

namespace {

const net::Json& membro(const net::Json& objeto, const char* nome, const char* onde) {
  if (!objeto.is_object())
    throw ListaInvalida(std::string(onde) + " não é um objeto: " + net::compactJson(objeto).substr(0, 200));
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
  const Cliente cliente{membro(entrada, "empresa", "cliente"), numeroComoTexto(membro(entrada, "numero", "cliente")),
                        membro(entrada, "parceiro", "cliente")};
  const net::Json* produtos = opcional(entrada, "produto");
  if (produtos == nullptr) return;
  for (const auto& elemento : lista(*produtos, "produto")) {
    const auto& produto = objeto(elemento, "produto");
    if (membro(produto, "tipo", "produto") != "ornivex") continue;
    selecionarLinks(produto, cliente, saida);
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
  const auto porEntrada = [&selecao](net::Json& entrada) {
    try {
      selecionarEntrada(entrada, selecao.lista);
      return true;
    } catch (...) {
      selecao.falha = std::current_exception();
      return false;  // the rest is only checked as JSON
    }
  };
  if (const auto documento = net::parseJsonElements(corpo, porEntrada)) {
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
