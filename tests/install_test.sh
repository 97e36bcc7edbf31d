#!/bin/sh
# What users get: `install` into a temporary DESTDIR (the manual page linted), or the CPack
# `package` (the Debian one lintian-clean, or the Windows ZIP) unpacked; exactly its files,
# and the installed program writes the nowtime job's two lines.
# Usage: install_test.sh install|package BUILD_DIR VERSION [RUNNER...]; RUNNER starts a
# Windows build's program. 77 (a skip) only for a tool a Windows build's host lacks.
set -eu
check=$1 build=$2 version=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dest=$tmp/dest
windows=${1:+1}

need() { for t; do command -v "$t" >"$tmp/log" || { echo "no $t"; exit $([ -n "$windows" ] && echo 77 || echo 1); }; done; }

case $check:$windows in
  install:)
    need mandoc
    files="usr/local/bin/zemlik usr/local/share/doc/zemlik/README.md
           usr/local/share/man/man1/zemlik.1" ;;
  install:1)
    need wine
    files="usr/local/README.md usr/local/third-party-licences-windows.txt usr/local/zemlik.exe" ;;
  package:)
    need dpkg-deb lintian
    files="usr/bin/zemlik usr/share/doc/zemlik/README.md usr/share/doc/zemlik/changelog.gz
           usr/share/doc/zemlik/copyright usr/share/man/man1/zemlik.1.gz" ;;
  package:1)
    need wine
    top=zemlik-$version-win64
    files="$top/README.md $top/third-party-licences-windows.txt $top/zemlik.exe" ;;
esac

if [ "$check" = install ]; then
  DESTDIR=$dest cmake --install "$build" --prefix /usr/local >"$tmp/log"
else
  cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/log"
  mkdir "$dest"
  if [ -n "$windows" ]; then
    (cd "$dest" && cmake -E tar xf "$tmp/out/zemlik-$version-win64.zip")
  else
    deb=$(echo "$tmp"/out/zemlik_"$version"_*.deb)
    dpkg-deb -x "$deb" "$dest"
    lintian --fail-on error,warning "$deb"
  fi
fi

found=$(cd "$dest" && find . -type f | sed 's|^\./||' | sort)
expected=$(printf '%s\n' $files | sort)
[ "$found" = "$expected" ] || { printf 'installed:\n%s\nexpected:\n%s\n' "$found" "$expected"; exit 1; }
if [ "$check:$windows" = install: ]; then
  lint=$(mandoc -T lint -W warning "$dest/usr/local/share/man/man1/zemlik.1" 2>&1 || true)
  [ -z "$lint" ] || { echo "$lint"; exit 1; }
fi

program=$(printf '%s\n' $files | grep -E '/zemlik(\.exe)?$')
root=$tmp/root && mkdir "$root"
[ -z "$windows" ] || root="Z:$(printf '%s' "$root" | tr / '\\')"
ZEMLIK_ROOT=$root ZEMLIK_CLOCK="2008-12-21 03:03:17" "$@" "$dest/$program" /k:nowtime
printf 'date,time\r\n2008/12/21,03:03:17 \r\n' | cmp - "$tmp/root/My Documents/monthlist.csv"
echo "$check: $(echo $files | wc -w) files, nowtime written"
