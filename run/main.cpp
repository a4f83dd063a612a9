#include "run/dispatch.hpp"

int main(int argc, char** argv) { return run::executar(argc, argv); }
