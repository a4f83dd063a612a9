// The report of a failure that no step handled.
#pragma once

#include <exception>
#include <string>

namespace run {

/// "coletor-pppoe: falha não tratada em <steps>: <kind>: <message>", the kind from a
/// fixed table so that what operators read does not follow the code's names.
std::string relatorioFalha(std::exception_ptr falha);

}  // namespace run
