#!/usr/bin/env bash
# The Debian package end to end on one Debian release: this machine's own, or with
# `--release 12|13` any other in a root of that release (debootstrap, kept under
# COLETOR_PEERS_DIR, entered with chroot). tests/package/on_release.sh does the work there,
# against the real QuestDB of this machine (started here when it is not up).
# It installs system-wide (in that root): one run per release at a time, purged whatever
# happens.
#   test_package.sh [--release 12|13]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
export COLETOR_PEERS_DIR=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
# The package built from this commit is what servers run before this release (1.0.4-1).
old_commit=58137b3
declare -A suites=([12]=bookworm [13]=trixie)
host_release=$(. /etc/os-release && echo "$VERSION_ID")
release=$host_release
if [[ ${1:-} == --release ]]; then release=${2:-}; fi
started=$SECONDS

fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }
[[ -n ${suites[$release]:-} ]] || fail "usage: test_package.sh [--release ${!suites[*]}]"

system='' stage='' questdb_started=''
cleanup() {
  if [[ -n $system ]] && mountpoint -q "$system/proc"; then umount "$system/proc" || umount -l "$system/proc"; fi
  if [[ -n $stage ]]; then rm -rf "${system}$stage"; fi
  if [[ -n $questdb_started ]]; then bash "$root/tests/peers/questdb.sh" stop >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

# A minimal root of the release, made once; the run itself installs what it needs there.
enter_root() {
  local dir=$COLETOR_PEERS_DIR/debian$release
  system=$dir/root
  mkdir -p "$dir"
  if [[ ! -f $dir/.bootstrapped ]]; then
    command -v debootstrap >/dev/null || fail "debootstrap is missing (scripts/setup.sh installs it)"
    if mountpoint -q "$system/proc"; then umount -l "$system/proc"; fi
    rm -rf --one-file-system "$system"
    printf '== debootstrap %s into %s\n' "${suites[$release]}" "$system"
    debootstrap --variant=minbase "${suites[$release]}" "$system" "$(bash "$root/tests/peers/mirror.sh")" >"$dir/debootstrap.log" 2>&1 \
      || { tail -n 20 "$dir/debootstrap.log"; fail "debootstrap (see $dir/debootstrap.log)"; }
    # Maintainer scripts there start nothing.
    printf '#!/bin/sh\nexit 101\n' >"$system/usr/sbin/policy-rc.d"
    chmod 755 "$system/usr/sbin/policy-rc.d"
    touch "$dir/.bootstrapped"
  fi
  cp -L /etc/resolv.conf "$system/etc/resolv.conf"
  mountpoint -q "$system/proc" || mount -t proc proc "$system/proc"
  mkdir -p "$system$COLETOR_PEERS_DIR"
  rm -rf "$system$COLETOR_PEERS_DIR/pki"
  cp -a "$COLETOR_PEERS_DIR/pki" "$system$COLETOR_PEERS_DIR/pki"
}

printf '== QuestDB peer\n'
if ! bash "$root/tests/peers/questdb.sh" status; then
  bash "$root/tests/peers/questdb.sh" install
  bash "$root/tests/peers/questdb.sh" start
  questdb_started=1
fi

if [[ $release != "$host_release" ]]; then enter_root; fi
stage=$(mktemp -d -p "${system}/var/tmp" coletor-package-src.XXXXXX)
chmod 755 "$stage"
stage=${stage#"$system"}
mkdir "${system}$stage/new" "${system}$stage/old"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -c) | tar -x -C "${system}$stage/new"
git -C "$root" cat-file -e "$old_commit^{commit}" 2>/dev/null \
  || fail "commit $old_commit (the package in use) is not in this clone: fetch its history"
git -C "$root" archive "$old_commit" | tar -x -C "${system}$stage/old"

run=(env COLETOR_PEERS_DIR="$COLETOR_PEERS_DIR" COLETOR_PACKAGE_RELEASE="$release" COLETOR_OLD_COMMIT="$old_commit"
     COLETOR_PACKAGE_NSPAWN="${COLETOR_PACKAGE_NSPAWN:-0}" COLETOR_PACKAGE_METRICS="${COLETOR_PACKAGE_METRICS:-1}"
     bash "$stage/new/tests/package/on_release.sh" "$stage/new" "$stage/old")
if [[ -n $system ]]; then
  chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "${run[@]}"
else
  "${run[@]}"
fi
echo "package test on Debian $release passed in $((SECONDS - started)) s"
