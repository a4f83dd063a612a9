#include "run/failure.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "run/console.hpp"

namespace run {

namespace {

std::string nomeTipo(const std::type_info& tipo) {
  int estado = 0;
  std::unique_ptr<char, decltype(&std::free)> nome(abi::__cxa_demangle(tipo.name(), nullptr, nullptr, &estado), &std::free);
  return estado == 0 && nome ? nome.get() : tipo.name();
}

void descrever(std::exception_ptr falha, std::string& etapas, std::string& causa) {
  try {
    std::rethrow_exception(falha);
  } catch (const EtapaFalhou& etapa) {
    etapas += etapas.empty() ? "" : " > ";
    etapas += etapa.what();
    try {
      std::rethrow_if_nested(etapa);
    } catch (...) {
      descrever(std::current_exception(), etapas, causa);
    }
  } catch (const std::exception& erro) {
    causa = nomeTipo(typeid(erro)) + ": " + erro.what();
  } catch (...) {
    causa = "exceção desconhecida";
  }
}

}  // namespace

std::string descreverFalha(std::exception_ptr falha) {
  std::string etapas;
  std::string causa;
  descrever(falha, etapas, causa);
  return "coletor-pppoe: falha não tratada" + (etapas.empty() ? "" : " em " + etapas) + ": " + causa;
}

void relatarFalha(std::exception_ptr falha) { console::linhaErro(descreverFalha(falha)); }

}  // namespace run
