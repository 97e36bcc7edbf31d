#!/usr/bin/env bash
# Source-based coverage (clang) of the program's code, from the whole CTest suite of
# build-coverage/: every process writes its own profile, the real binary's end-to-end,
# torture and install runs included, and the profiles are merged once. Prints a per-file
# summary of the program code (not tests, fuzz or bench) with its totals, and writes an
# HTML report into build-coverage/html/. A report, not a gate: the figures set no limit.
# Usage: tools/coverage.sh   (after `cmake --build --preset coverage`; make coverage does both)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$PWD/build-coverage
rm -rf "$dir/profiles" "$dir/html"
mkdir -p "$dir/profiles"

status=0
LLVM_PROFILE_FILE="$dir/profiles/%m-%p.profraw" ctest --preset coverage -j "${JOBS:-$(nproc)}" \
  || status=$?
llvm-profdata merge -sparse "$dir"/profiles/*.profraw -o "$dir/zemlik.profdata"

# The program itself and every test program: together they hold all the code that ran.
objects=(-object "$dir/zemlik")
while IFS= read -r program; do objects+=(-object "$program"); done \
  < <(find "$dir" -name '*_tests' -type f -perm -u+x | sort)
options=(-instr-profile "$dir/zemlik.profdata"
         -ignore-filename-regex '(^|/)(tests|fuzz|bench|googletest)/|_test\.cpp$|^/usr/')
llvm-cov report "${options[@]}" "${objects[@]}" | sed "s|$PWD/||"
llvm-cov show "${options[@]}" "${objects[@]}" -format=html -output-dir "$dir/html" \
  -show-branches=count
echo "coverage: HTML report in build-coverage/html/index.html"
exit "$status"
