#!/usr/bin/env bash
# Installs everything the build, the tests and the sandbox need (Debian 12, as root); the
# Debian 13 roots of the package test and of the Zabbix 7.0 peer are made with debootstrap.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libgtest-dev googletest
  openssl curl ca-certificates brotli zstd
  nginx-light faketime libfaketime tinyproxy
  maven openjdk-17-jre-headless
  clang libclang-rt-14-dev valgrind clang-tidy clang-format
  python3 python3-pip python3-hypothesis
  debootstrap
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian's nginx service binds 0.0.0.0:80, which the local peers need on 127.0.0.x.
if [[ -s /run/nginx.pid ]] && kill -0 "$(cat /run/nginx.pid)" 2>/dev/null; then
  service nginx stop >/dev/null 2>&1 || nginx -s quit 2>/dev/null || true
fi

python3 -c 'import pytest' 2>/dev/null || python3 -m pip install --quiet pytest
python3 -c 'import hypothesis' 2>/dev/null || python3 -m pip install --quiet hypothesis
