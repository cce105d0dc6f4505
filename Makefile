# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run   - installs the packages, builds the program and starts it
#   make test  - installs the packages, builds with sanitizers and runs every test,
#                then the core's tests built for Windows under Wine (test-windows)
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: run test test-tsan test-windows build release-config bench deps format format-check clean install package

deps:
	@bash scripts/install-deps.sh

# What the program needs to run: itself, its sounds and the command-line peer;
# and what is installed with them.
RUN_TARGETS := murmex3 murmex3_sounds murmex3-cli
INSTALL_TARGETS := $(RUN_TARGETS) murmex3_manual murmex3_cli_manual

release-config: deps
	@cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# The release build of everything, the tests and benchmarks included.
build: release-config
	@cmake --build build/release -j $(JOBS)

run: release-config
	@cmake --build build/release -j $(JOBS) --target $(RUN_TARGETS)
	@cd build/release/src && ./murmex3

# Installs the release build under /usr/local (another prefix: PREFIX=/opt/murmex3;
# a staging folder: DESTDIR=...).
install: release-config
	@cmake --build build/release -j $(JOBS) --target $(INSTALL_TARGETS)
	@cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, build/release/murmex3_<version>_<arch>.deb. Only what it
# holds is built for it.
package: release-config
	@cmake --build build/release -j $(JOBS) --target $(INSTALL_TARGETS)
	@cd build/release && cpack -G DEB

test: deps
	@cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMURMEX3_SANITIZE=ON -DMURMEX3_WERROR=ON >/dev/null
	@cmake --build build/test -j $(JOBS)
	@cd build/test && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory test-windows

# The core and its threaded tests under ThreadSanitizer.
test-tsan: deps
	@cmake -S . -B build/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMURMEX3_TSAN=ON -DMURMEX3_WERROR=ON \
		-DMURMEX3_BUILD_UI=OFF -DMURMEX3_BUILD_BENCH=OFF >/dev/null
	@cmake --build build/tsan -j $(JOBS)
	@cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS)

# The core, its tests and the fuzz-corpus replays built for Windows with
# MinGW-w64 and run under Wine (scripts/test-windows.sh).
WIN_BUILD ?= build/windows
test-windows:
	@bash scripts/test-windows.sh $(WIN_BUILD) $(JOBS)

# libFuzzer (clang): builds the core and the fuzz targets in $(FUZZ_BUILD), then
# runs each fuzzer for FUZZ_SECONDS on a scratch corpus that starts from the
# committed seeds (tests/fuzz/corpus); crashes land in $(FUZZ_BUILD)/artifacts.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build/fuzz
FUZZERS := FuzzDispatch:dispatch FuzzSettings:settings

.PHONY: fuzz
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMURMEX3_FUZZ=ON -DMURMEX3_BUILD_UI=OFF -DMURMEX3_BUILD_TESTS=OFF -DMURMEX3_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@failed=0; for pair in $(FUZZERS); do \
		target=$${pair%%:*}; corpus=$${pair##*:}; \
		mkdir -p $(FUZZ_BUILD)/corpus/$$corpus; \
		cp tests/fuzz/corpus/$$corpus/* $(FUZZ_BUILD)/corpus/$$corpus/; \
		echo "== $$target: $(FUZZ_SECONDS) s"; \
		$(FUZZ_BUILD)/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/artifacts/ $(FUZZ_BUILD)/corpus/$$corpus || failed=1; \
	done; exit $$failed

bench: build
	@for b in build/release/bench/bench_*; do $$b; done

format:
	@find src tests bench tools -name '*.h' -o -name '*.cpp' | xargs clang-format -i

format-check:
	@find src tests bench tools -name '*.h' -o -name '*.cpp' | xargs clang-format --dry-run -Werror

clean:
	@rm -rf build
