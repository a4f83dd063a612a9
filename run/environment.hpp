// What the run takes from its environment: only run/ reads it.
#pragma once

#include <optional>
#include <string>

namespace run {

/// The operator's PEM bundle (SSL_CERT_FILE, as OpenSSL's own tools take it), or the
/// compiled-in store.
std::string caBundle();

/// The health file (COLETOR_METRICS_FILE); empty for none.
std::string caminhoSaude();

/// The configuration file of the runs (COLETOR_CONFIG), when one is named.
std::optional<std::string> caminhoConfiguracao();

/// True when stderr is the journal stream that JOURNAL_STREAM names: the variable alone
/// may have been inherited by a process whose stderr points elsewhere.
bool erroPadraoNoJornal();

}  // namespace run
