#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ for a while (default 60 s each, two at a
# time) from its seed corpus, and fails when any of them finds something.
# Usage: tools/fuzz-smoke.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run_one() {
  local target=$1 seconds=$2 scratch=$3
  local name dict=()
  name=$(basename "$target")
  case "$name" in
    comic_list_fuzz|bunko_list_fuzz) dict=(-dict=fuzz/release_list.dict) ;;
    *) [ -f "fuzz/${name%_fuzz}.dict" ] && dict=(-dict="fuzz/${name%_fuzz}.dict") ;;
  esac
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/artifacts"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 "${dict[@]}" \
       -artifact_prefix="$scratch/$name/artifacts/" \
       "$scratch/$name/corpus" "fuzz/corpus/$name" >"$scratch/$name/log" 2>&1; then
    echo "$name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name/log" | grep -o '[0-9]*$') runs, no finding"
  else
    echo "$name: FAILED"; tail -n 40 "$scratch/$name/log"; return 1
  fi
}
export -f run_one

ls build-fuzz/fuzz/*_fuzz >/dev/null
ls build-fuzz/fuzz/*_fuzz | xargs -P2 -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$scratch"
