// The registry document walk and the selection of the customer links. On any body, the
// selection either gives work items or fails with ListaInvalida (after a body that is
// not JSON: JsonDecodeError), and reading the body as a stream selects exactly what
// parsing it whole and then selecting does, failures and their messages included.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "discovery/selection.hpp"
#include "fuzz/check.hpp"
#include "net/json.hpp"

namespace {

using Campo = records::ClienteDados::Campo;

struct Desfecho {
  records::ListaClientes itens;
  std::optional<std::string> decodificacao;  // JsonDecodeError's message
  std::optional<std::string> lista;          // ListaInvalida's message
};

std::string mensagem(std::exception_ptr falha) {
  try {
    std::rethrow_exception(falha);
  } catch (const discovery::ListaInvalida& erro) {
    return erro.what();
  }
}

Desfecho inteiro(std::string_view corpo) {
  Desfecho d;
  net::Json lista;
  try {
    lista = net::parseJson(corpo);
  } catch (const net::JsonError& erro) {
    d.decodificacao = erro.what();
    return d;
  }
  try {
    d.itens = discovery::selecionarClientes(lista);
    fuzz::require(d.itens.empty() || lista.is_array(), "work items from a document that is not a list");
  } catch (const discovery::ListaInvalida& erro) {
    fuzz::require(lista != net::Json::object() && lista != "", "an empty object or empty text was refused");
    d.lista = erro.what();
  }
  return d;
}

Desfecho fluxo(std::string_view corpo) {
  Desfecho d;
  try {
    auto selecao = discovery::selecionarDoCorpo(corpo);
    if (selecao.falha) {
      fuzz::require(selecao.lista.empty(), "work items beside a failure");
      d.lista = mensagem(selecao.falha);  // anything but ListaInvalida escapes: a crash
    }
    d.itens = std::move(selecao.lista);
  } catch (const net::JsonError& erro) {
    d.decodificacao = erro.what();
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view corpo(reinterpret_cast<const char*>(data), size);
  const Desfecho a = inteiro(corpo);
  const Desfecho b = fluxo(corpo);
  fuzz::require(a.decodificacao == b.decodificacao, "the stream and the whole parse disagree on the JSON");
  fuzz::require(a.lista == b.lista, "the stream and the whole parse disagree on the selection's failure");
  fuzz::require(a.itens.size() == b.itens.size(), "the stream selected another number of links");
  for (std::size_t i = 0; i < a.itens.size(); ++i) {
    fuzz::require(a.itens[i] == b.itens[i], "the stream selected another link");
    fuzz::require(a.itens[i].texto(Campo::numero).has_value(), "numero did not become text");
    fuzz::require(a.itens[i].texto(Campo::link) != "" && a.itens[i].texto(Campo::nome) != "",
                  "an empty link or name was selected");
  }
  return 0;
}
