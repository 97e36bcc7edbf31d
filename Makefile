# The README's two commands: `make run` and `make test`. Each installs what the
# host lacks, configures and builds, then runs.
.PHONY: run test deps build test-asan test-tsan fuzz fuzz-smoke bench coverage clean test-windows install package package-windows

PREFIX ?= /usr/local

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

build:
	tools/install-deps.sh base test
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	tools/run-sample.sh

test: build
	ctest --preset default -j $(JOBS)

# The program, its manual page and the README under PREFIX, staged under DESTDIR when set.
install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# The Debian package build/zemlik_<version>_<arch>.deb, made by CPack from the install
# rules (cmake/package.cmake).
package: build
	cpack --preset default

test-asan:
	tools/install-deps.sh base test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan:
	tools/install-deps.sh base test
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz:
	tools/install-deps.sh base fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS (default 60), two at a time, from its seed corpus.
fuzz-smoke: fuzz
	tools/fuzz-smoke.sh $(FUZZ_SECONDS)

# Source-based coverage of the program code over the whole suite (build-coverage/): a
# per-file summary with totals, and an HTML report in build-coverage/html/.
coverage:
	tools/install-deps.sh base test coverage
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	tools/coverage.sh

bench:
	tools/install-deps.sh base bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)

# The Windows build (mingw-w64, static runtime): its unit suites run under wine in a
# fresh prefix inside build-mingw; then the Linux build's parity test runs the same jobs
# through both builds and compares the bytes.
test-windows: build
	tools/install-deps.sh base test windows
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	ctest --preset mingw -j $(JOBS)
	ZEMLIK_WINDOWS_BUILD=$(CURDIR)/build-mingw ctest --preset default -R '^WindowsParityTest\.'

# The Windows ZIP build-mingw/zemlik-<version>-win64.zip: zemlik.exe, the README and the
# notices of the runtime linked statically into it. Only the program is built.
package-windows:
	tools/install-deps.sh base windows
	cmake --preset mingw
	cmake --build --preset mingw --target zemlik -j $(JOBS)
	cpack --preset mingw

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench build-coverage build-mingw
