#!/usr/bin/env bash
# The hardening checks, after tests/run-all.sh's own: ThreadSanitizer over the unit tests
# and the fault suite, AddressSanitizer with UndefinedBehaviorSanitizer over the fault
# suite, one whole run under valgrind's memcheck, every fuzz target for FUZZ_SECONDS
# (default 60) each, and the static checks (tests/lint.sh). Needs scripts/setup.sh
# (clang, clang-tidy, valgrind); about 20 minutes on 2 cores. Each sanitized program is
# built once, in build-faults-<kind>-*.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
export COLETOR_PEERS_DIR=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
port=${COLETOR_TEST_REGISTRY_PORT:-18443}
pytest=(python3 -m pytest -q -p no:cacheprovider)
started=$SECONDS
step() { printf '== %s (%d s in)\n' "$1" $((SECONDS - started)); }

# Under a sanitizer the suite leaves out what only needs another build (the runs that
# meet the 3-second limit), the half-gigabyte answers and the waits of 10 and 30 s,
# which add time and no new path, and the thread count of a low ulimit, which the
# sanitizers' own threads change.
sanitized="not limite_curto and not keeps_the_run_waiting and not never_completes_the_handshake
  and not never_answers and not 64-MiB and not 50-MB and not large_but_valid
  and not silent_front_end and not retried- and not cannot_start and not run_limit"
sanitized=${sanitized//$'\n'/}

step "thread sanitizer: fault suite"
COLETOR_FAULTS_SANITIZER=tsan "${pytest[@]}" tests/faults -k "$sanitized"

step "thread sanitizer: unit tests"
tsan=build-faults-tsan-$port-300
cmake --build "$tsan" --target coletor_tests >/dev/null
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" "$tsan/tests/coletor_tests" --gtest_brief=1

step "address and undefined-behaviour sanitizers: fault suite"
COLETOR_FAULTS_SANITIZER=asan "${pytest[@]}" tests/faults -k "$sanitized"

step "valgrind memcheck: whole runs"
COLETOR_MEMCHECK=1 "${pytest[@]}" tests/faults/test_memcheck.py

# A fuzz target keeps one core busy; the static checks take the other.
step "fuzzing, ${FUZZ_SECONDS:-60} s per target, and beside it the static checks"
lint_log=$(mktemp)
bash tests/lint.sh --format >"$lint_log" 2>&1 &
lint=$!
fuzz_status=0
bash fuzz/run.sh "${FUZZ_SECONDS:-60}" || fuzz_status=$?
lint_status=0
wait "$lint" || lint_status=$?
cat "$lint_log"
rm -f "$lint_log"
((fuzz_status == 0 && lint_status == 0)) || { echo "hardening: fuzzing $fuzz_status, static checks $lint_status" >&2; exit 1; }

step "hardening done"
