// The colour report of debug mode.
#pragma once

#include <string>

#include "records/records.hpp"

namespace discovery {

/// The whole report, every line ending in a line feed.
std::string montarRelatorio(const records::ResultadoDescoberta& descobertaPPPoE);

}  // namespace discovery
