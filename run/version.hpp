// The version report.
#pragma once

#include <string>

namespace run {

/// The invocation name with every "./" turned into one space.
std::string nomeExibido(std::string nomeInvocacao);

/// Prints the rights notice and "<invocation name>  <version>".
void get_version(const std::string& nomeInvocacao);

}  // namespace run
