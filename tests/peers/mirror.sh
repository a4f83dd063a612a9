#!/usr/bin/env bash
# Prints the Debian mirror this machine's apt uses (deb.debian.org when it names none): the
# one debootstrap makes the test roots from.
set -euo pipefail
uri=
if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
  uri=$(awk '/^URIs:/ && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
fi
echo "${uri:-http://deb.debian.org/debian}"
