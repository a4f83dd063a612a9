#include "records/records.hpp"

namespace records {

ClienteDados::ClienteDados(const net::Json& link, const net::Json& nome, const net::Json& numero,
                           const net::Json& parceiro) {
  const net::Json* valores[] = {&link, &nome, &numero, &parceiro};
  for (std::size_t i = 0; i < fins_.size(); ++i) {
    if (valores[i]->is_string()) {
      dados_ += valores[i]->get_ref<const std::string&>();
      textos_ |= static_cast<std::uint8_t>(1u << i);
    } else {
      dados_ += net::compactJson(*valores[i]);
    }
    fins_[i] = static_cast<std::uint32_t>(dados_.size());
  }
  dados_.shrink_to_fit();
}

std::optional<std::string_view> ClienteDados::texto(Campo campo) const {
  if ((textos_ & (1u << static_cast<unsigned>(campo))) == 0) return std::nullopt;
  return comoTexto(campo);
}

std::string_view ClienteDados::comoTexto(Campo campo) const {
  const auto i = static_cast<std::size_t>(campo);
  const std::size_t inicio = i == 0 ? 0 : fins_[i - 1];
  return std::string_view(dados_).substr(inicio, fins_[i] - inicio);
}

}  // namespace records
