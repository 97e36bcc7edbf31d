#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and nothing when
# they are all present. Prints every command it runs.
# Usage: tools/install-deps.sh [base|test|fuzz|bench]...
set -euo pipefail

want=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev ca-certificates)
for group in "$@"; do
  case "$group" in
    base) ;;
    test) want+=(libgtest-dev libgmock-dev python3 openssl) ;;
    fuzz) want+=(clang libclang-rt-dev) ;;
    bench) want+=(libbenchmark-dev curl) ;;
    *) echo "install-deps: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
run() { echo "+ $*"; "$@"; }
run "${sudo[@]}" apt-get update -qq
run "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
