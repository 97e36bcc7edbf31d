#!/usr/bin/env bash
# What `make run` runs: the sample bookshop (tools/sample_bookshop.py) on loopback,
# and the jobs comic-ta, bunko-ta and comic-wf for the current month through it as
# the HTTP proxy. Prints each job's command, exit code and CSV decoded from code
# page 932 to UTF-8. The files go under a fresh temporary device root, removed at
# the end, unless ZEMLIK_ROOT names one (then they stay there).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
binary="${ZEMLIK_BINARY:-$top/build/zemlik}"

work="$(mktemp -d "${TMPDIR:-/tmp}/zemlik-sample.XXXXXX")"
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

python3 "$top/tools/sample_bookshop.py" --port-file "$work/port" &
server=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$server" 2>/dev/null || { echo "run-sample: the sample bookshop did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/port" ] || { echo "run-sample: the sample bookshop did not start" >&2; exit 1; }
proxy="http://127.0.0.1:$(cat "$work/port")"
echo "sample bookshop: $proxy (the HTTP proxy for the jobs)"

root="${ZEMLIK_ROOT:-$work/root}"
mkdir -p "$root"
failed=0
for job in comic-ta bunko-ta comic-wf; do
  name="$job.csv"
  echo
  echo "== zemlik /k:$job /d:now /o:\"\\My Documents\\$name\""
  status=0
  env -u no_proxy -u NO_PROXY -u all_proxy -u ALL_PROXY ZEMLIK_ROOT="$root" \
    http_proxy="$proxy" "$binary" "/k:$job" /d:now "/o:\\My Documents\\$name" || status=$?
  echo "exit code $status"
  file="$root/My Documents/$name"
  if [ -f "$file" ]; then
    python3 -c 'import sys; sys.stdout.write(open(sys.argv[1], "rb").read().decode("cp932").replace("\r\n", "\n"))' "$file"
  else
    echo "(no file)"
  fi
  [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
