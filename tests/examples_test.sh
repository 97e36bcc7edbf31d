#!/bin/sh
# The README's and the manual page's examples marked "example: runs offline", run as written
# by one shell in a temporary folder, against the built program (build/zemlik, and zemlik on
# the PATH), with /tmp/device a folder of the test's own. Each line must succeed.
# Usage: examples_test.sh SOURCE_DIR BUILD_DIR
set -eu
source=$1 build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/build" "$tmp/home"
ln -s "$build/zemlik" "$tmp/build/zemlik"
# README: the fenced block after the marker. Manual page: the "$ " lines of the display after
# it, with mdoc's \e as the backslash it stands for.
awk '/^<!-- example: runs offline -->/ {on = 1; next} on && /^```sh/ {next} /^```/ {on = 0} on' \
  "$source/README.md" >"$tmp/examples"
awk '/^\.\\" example: runs offline/ {on = 1} /^\.Ed/ {on = 0} on && sub(/^\$ /, "") {
       gsub(/\\e/, "\\"); print }' "$source/docs/zemlik.1" >>"$tmp/examples"
sed -i "s|/tmp/device|$tmp/device|g" "$tmp/examples"
[ "$(grep -c zemlik "$tmp/examples")" -ge 5 ] || { cat "$tmp/examples"; echo "no examples found"; exit 1; }
cd "$tmp"
env -u ZEMLIK_ROOT HOME="$tmp/home" PATH="$tmp/build:$PATH" sh -ex examples >log 2>&1 ||
  { cat log; exit 1; }
echo "$(wc -l <examples) example lines ran"
