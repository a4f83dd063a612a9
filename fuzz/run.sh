#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, -DCOLETOR_FUZZ=ON) and runs each for SECONDS
# (default 60) on its corpus in fuzz/corpus/<target>/. New inputs go to a scratch folder,
# so the committed corpus stays a small seed set; a crash leaves its input in
# $FUZZ_BUILD/artifacts/ and makes the script fail. Prints executions per target.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]   (FUZZ_BUILD: build folder, default build-fuzz)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(json selection zabbix line_protocol)
build=${FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCOLETOR_FUZZ=ON -DCOLETOR_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}" >/dev/null

mkdir -p "$build/artifacts" "$build/logs"
declare -A dictionary=([json]=json [selection]=json [zabbix]=json)
failed=()
summary=()
for target in "${targets[@]}"; do
  scratch=$(mktemp -d "$build/new-$target.XXXXXX")
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
           -artifact_prefix="$build/artifacts/$target-")
  [[ -n ${dictionary[$target]:-} ]] && options+=(-dict="$root/fuzz/${dictionary[$target]}.dict")
  log=$build/logs/$target.log
  status=0
  "$build/fuzz/fuzz_$target" "${options[@]}" "$scratch" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  summary+=("$(printf '%-14s %6ss %12s executions  %s' "$target" "${time:-?}" "${executions:-?}" \
    "$([[ $status == 0 ]] && echo ok || echo "CRASH (see $log)")")")
  ((status == 0)) || failed+=("$target")
done
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "fuzz: crashes in ${failed[*]}; inputs in $build/artifacts/" >&2
  exit 1
fi
