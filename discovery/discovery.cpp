#include "discovery/discovery.hpp"

#include <stdexcept>

namespace discovery {

int descobertaPPPoE() { throw std::logic_error("descobertaPPPoE: ainda não disponível"); }

}  // namespace discovery
