// The exit statuses of the program, named once.
#pragma once

namespace run {

inline constexpr int EXIT_SUCESSO = 0;       // run completed (also: time limit reached, unknown mode)
inline constexpr int EXIT_FALHA = 1;         // wrong command line or a failure the run could not handle
inline constexpr int EXIT_SAIDA_PERDIDA = 2; // stdout could not be written after a normal end

}  // namespace run
