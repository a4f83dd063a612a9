#!/usr/bin/env bash
# The benchmark in one command: builds the program (a sandbox build that trusts the
# system bundle plus the throw-away test authority), the bare libcurl floor and the Go
# fleet, then runs bench.py. Figures go to $BENCH_BUILD/results (table, JSON, PNG).
#   bash bench/run.sh            full run (N = 10, 100, 1000, 5000 over HTTP and HTTPS)
#   bash bench/run.sh --smoke    a tiny run for CI
#   bash bench/run.sh --rtt-ms 10,50,100 --pool-seconds 40 --version-runs 0 --big 0
#                                capacity: one N per emulated round trip (capacity.png)
# Other options go to bench.py (--sizes, --runs, --schemes, --big, --latency-ms, --rtt-ms,
# --pool-seconds, ...).
# Environment: BENCH_BUILD (build folder), BENCH_HOST (loopback address of the fleet,
# which takes its port 80 for QuestDB's /exec), BENCH_REGISTRY_PORT.
set -euo pipefail
# The builds here trust the test authority compiled into them; an SSL_CERT_FILE set for the
# whole machine would name another store instead.
unset SSL_CERT_FILE

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
host=${BENCH_HOST:-127.0.0.6}
registry_port=${BENCH_REGISTRY_PORT:-39443}

args=()
smoke=0
for a in "$@"; do
  if [[ $a == --smoke ]]; then smoke=1; else args+=("$a"); fi
done
if ((smoke)); then
  args=(--sizes 10 --runs 1 --big 1000 --version-runs 5 --no-plot "${args[@]}")
fi

mkdir -p "$build"
bash "$root/tests/pki/make-pki.sh" "$build/pki"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOLETOR_TESTS=OFF \
  -DREGISTRY_API_URL="https://$host:$registry_port/api" -DPORTAL_ORIGIN=https://portal.bench.test \
  -DCA_BUNDLE="$build/pki/bundle-with-system.pem" >/dev/null
cmake --build "$build" --target coletor-pppoe bench_floor -j "$(nproc)"
(cd "$root/bench/fleet" && GOTOOLCHAIN=local GOFLAGS=-mod=mod go build -o "$build/bench-fleet" .)

python=python3
if ((!smoke)); then
  # matplotlib for the plot, in a venv of the build folder; without it there is no plot.
  if [[ ! -x $build/venv/bin/python ]] || ! "$build/venv/bin/python" -c 'import matplotlib' 2>/dev/null; then
    python3 -m venv "$build/venv" && "$build/venv/bin/pip" install -q matplotlib || echo "matplotlib unavailable: no plot"
  fi
  [[ -x $build/venv/bin/python ]] && python=$build/venv/bin/python
fi

exec "$python" "$root/bench/bench.py" --program "$build/coletor-pppoe" --floor "$build/bench/bench_floor" \
  --fleet "$build/bench-fleet" --pki "$build/pki" --out "$build/results" --host "$host" \
  --registry-port "$registry_port" "${args[@]}"
