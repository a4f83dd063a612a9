#!/usr/bin/env bash
# Static checks: clang-tidy (the checks of .clang-tidy) over the production code, with the
# compile commands of its own configure in build-lint; any finding fails. With --format,
# also every C++ file of the tree against .clang-format. Needs scripts/setup.sh.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
format=0
for arg in "$@"; do
  case $arg in
    --format) format=1 ;;
    *) echo "usage: tests/lint.sh [--format]" >&2; exit 2 ;;
  esac
done

floors=(run base net registry discovery records store zabbix)
sources=()
for floor in "${floors[@]}"; do sources+=("$floor"/*.cpp); done

echo "== clang-tidy (${#sources[@]} files)"
cmake -S . -B build-lint -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCOLETOR_TESTS=OFF >/dev/null
# clang reports how many warnings it saw in system headers; those are not findings.
tidy() { clang-tidy -p build-lint --quiet "$1" 2> >(grep -vE '^[0-9]+ warnings? generated\.$' >&2); }
export -f tidy
if ! printf '%s\0' "${sources[@]}" | xargs -0 -n1 -P "$(nproc)" bash -c 'tidy "$0"'; then
  echo "lint: clang-tidy found the above" >&2
  exit 1
fi

if ((format)); then
  echo "== clang-format"
  mapfile -t cxx < <(find "${floors[@]}" tests fuzz bench -name '*.cpp' -o -name '*.hpp' | sort)
  clang-format --dry-run --Werror "${cxx[@]}"
fi
echo "lint: clean"
