// The colour report of debug mode.
#pragma once

#include <string>

#include "discovery/records.hpp"

namespace discovery {

/// The whole report, every line ending in a line feed.
std::string montarRelatorio(const ResultadoDescoberta& descobertaPPPoE);

}  // namespace discovery
