#!/bin/sh
# Runs a Windows program under wine as the tests need it: the prefix given first (made on
# first use, once, even when several programs start together), a Japanese locale so that
# the ANSI code page is 932, and no debugging output.
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
# No Mono or Gecko installers: nothing here needs .NET or an HTML engine.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot --init >/dev/null 2>&1 </dev/null
      wineserver --wait
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
