# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run   - installs the packages, builds the program and starts it
#   make test  - installs the packages, builds with sanitizers and runs every test
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: run test test-tsan build bench deps format format-check clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build/release -j $(JOBS)

run: build
	@if [ -x build/release/src/murmex3 ]; then \
		cd build/release/src && ./murmex3; \
	else \
		echo "The desktop program is not part of this build yet: the core library, its tests and benchmarks were built in build/release."; \
	fi

test: deps
	@cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMURMEX3_SANITIZE=ON -DMURMEX3_WERROR=ON >/dev/null
	@cmake --build build/test -j $(JOBS)
	@cd build/test && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-tsan

# The core and its threaded tests under ThreadSanitizer.
test-tsan: deps
	@cmake -S . -B build/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMURMEX3_TSAN=ON -DMURMEX3_WERROR=ON \
		-DMURMEX3_BUILD_UI=OFF -DMURMEX3_BUILD_BENCH=OFF >/dev/null
	@cmake --build build/tsan -j $(JOBS)
	@cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in build/release/bench/bench_*; do $$b; done

format:
	@find src tests bench tools -name '*.h' -o -name '*.cpp' | xargs clang-format -i

format-check:
	@find src tests bench tools -name '*.h' -o -name '*.cpp' | xargs clang-format --dry-run -Werror

clean:
	@rm -rf build
