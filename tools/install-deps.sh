#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and nothing when
# they are all present. Prints every command it runs.
# Usage: tools/install-deps.sh [base|test|fuzz|bench|coverage|windows]...
# windows: the mingw-w64 cross compiler, GoogleTest's sources, wine, and the
# ja_JP.UTF-8 locale (generated when missing) that gives wine the code page 932.
set -euo pipefail

want=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev ca-certificates)
for group in "$@"; do
  case "$group" in
    base) ;;
    # dpkg-dev and file: CPack's Debian package (dpkg-shlibdeps); mandoc, lintian: checks
    # of the manual page and the package.
    test) want+=(libgtest-dev libgmock-dev python3 openssl dpkg-dev file mandoc lintian) ;;
    fuzz) want+=(clang libclang-rt-dev) ;;
    # llvm-profdata and llvm-cov come with Debian's llvm, not with clang.
    coverage) want+=(clang llvm) ;;
    bench) want+=(libbenchmark-dev curl) ;;
    windows) want+=(g++-mingw-w64-x86-64-posix googletest wine wine64 locales python3)
      windows=1 ;;
    *) echo "install-deps: unknown group $group" >&2; exit 2 ;;
  esac
done

windows=${windows:-0}
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
run() { echo "+ $*"; "$@"; }

# Wine takes its ANSI code page from the locale; ja_JP.UTF-8 makes it 932.
make_japanese_locale() {
  if [ "$windows" = 1 ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    run "${sudo[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
}

missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  make_japanese_locale
  exit 0
fi

run "${sudo[@]}" apt-get update -qq
run "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
make_japanese_locale
