# SPDX-License-Identifier: GPL-3.0-or-later
# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD_DIR ?= build
CMAKE_FLAGS ?=

.PHONY: all deps test-deps package-deps configure build build-for-run run demo examples test \
  sanitize lint bench install uninstall deb dsc deb-check clean

all: build

deps:
	@scripts/install-deps.sh

test-deps:
	@scripts/install-deps.sh --test

package-deps:
	@scripts/install-deps.sh --package

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

# The program and the renderer only: the tests and benchmarks wait for `make test`.
build-for-run: configure
	@cmake --build $(BUILD_DIR) --target quillfern quillfern-render

run: build-for-run
	@$(BUILD_DIR)/app/quillfern

demo: build-for-run
	@$(BUILD_DIR)/tools/quillfern-render scores/demo.score -o $(BUILD_DIR)/demo.wav
	@echo "Rendered scores/demo.score to $(BUILD_DIR)/demo.wav"

# A few sounds of the factory bank, as the README lists them, in $(BUILD_DIR)/examples.
examples: build-for-run
	@scripts/render-examples.sh $(BUILD_DIR)/tools/quillfern-render scores $(BUILD_DIR)/examples

# Installs under PREFIX (empty: the configured one, /usr/local), recording the files and the
# folders it made in $(BUILD_DIR) for `make uninstall`. As root (`sudo make install`) it builds
# nothing, so that the build tree stays its user's.
PREFIX =
install: $(if $(filter 0,$(shell id -u)),,build)
	@scripts/install.sh $(BUILD_DIR) $(BUILD_DIR) "$(PREFIX)"

uninstall:
	@scripts/uninstall.sh $(BUILD_DIR)

test: test-deps build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j 2 -LE "bench|long"

# Sanitizer trees of their own, the same tests in each: AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer (the two cannot share a build), then clang's
# UndefinedBehaviorSanitizer, which checks what GCC's leaves out: a float turned into an integer
# it does not fit (float-cast-overflow) among them. Then a clang tree for the fuzzers (fuzz/),
# each run for a bounded time under AddressSanitizer and UndefinedBehaviorSanitizer, and one for
# the real-time sanitizer's test (tests/realtime).
# libstdc++ 12's stable_sort calls get_temporary_buffer, which clang 22 reports as deprecated
# inside the library's own header.
ASAN_BUILD_DIR ?= build-sanitize-asan
TSAN_BUILD_DIR ?= build-sanitize-tsan
UBSAN_BUILD_DIR ?= build-sanitize-ubsan
FUZZ_BUILD_DIR ?= build-sanitize-fuzz
RTSAN_BUILD_DIR ?= build-sanitize-rtsan
CLANG_VERSION ?= 22
CLANG_FLAGS = -G Ninja -DCMAKE_C_COMPILER=clang-$(CLANG_VERSION) \
  -DCMAKE_CXX_COMPILER=clang++-$(CLANG_VERSION) -DCMAKE_CXX_FLAGS=-Wno-deprecated-declarations

# The instrumented live program, its JACK server and its MIDI sender need both cores to keep up
# with the server's cycles: there the end-to-end cases run one at a time, after the others.
SANITIZED_CTEST = ctest --output-on-failure -LE "soak|bench|long"

sanitize: test-deps
	@cmake -S . -B $(ASAN_BUILD_DIR) -G Ninja -DQUILLFERN_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN_BUILD_DIR)
	@$(SANITIZED_CTEST) --test-dir $(ASAN_BUILD_DIR) -j 2 -E '^e2e\.'
	@$(SANITIZED_CTEST) --test-dir $(ASAN_BUILD_DIR) -j 1 -R '^e2e\.'
	@cmake -S . -B $(TSAN_BUILD_DIR) -G Ninja -DQUILLFERN_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN_BUILD_DIR)
	@$(SANITIZED_CTEST) --test-dir $(TSAN_BUILD_DIR) -j 2 -E '^e2e\.'
	@$(SANITIZED_CTEST) --test-dir $(TSAN_BUILD_DIR) -j 1 -R '^e2e\.'
	@cmake -S . -B $(UBSAN_BUILD_DIR) $(CLANG_FLAGS) \
	  -DQUILLFERN_SANITIZE=undefined,float-cast-overflow >/dev/null
	@cmake --build $(UBSAN_BUILD_DIR)
	@$(SANITIZED_CTEST) --test-dir $(UBSAN_BUILD_DIR) -j 2 -E '^e2e\.'
	@$(SANITIZED_CTEST) --test-dir $(UBSAN_BUILD_DIR) -j 1 -R '^e2e\.'
	@cmake -S . -B $(RTSAN_BUILD_DIR) $(CLANG_FLAGS) -DQUILLFERN_SANITIZE=realtime >/dev/null
	@cmake --build $(RTSAN_BUILD_DIR) --target quillfern_realtime_tests
	@ctest --test-dir $(RTSAN_BUILD_DIR) --output-on-failure -j 2 -L realtime
	@cmake -S . -B $(FUZZ_BUILD_DIR) $(CLANG_FLAGS) -DQUILLFERN_SANITIZE=address,undefined \
	  -DQUILLFERN_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD_DIR) --target quillfern_fuzzers
	@ctest --test-dir $(FUZZ_BUILD_DIR) --output-on-failure -j 2 -L fuzz

# Static checks over our own sources: clang-tidy with .clang-tidy's checks, then cppcheck.
# clang-tidy compiles as clang does, so it is told about stable_sort as the clang trees are.
LINT_SOURCES = git ls-files 'app/*.cpp' 'engine/*.cpp' 'instrument/*.cpp' 'midi/*.cpp' 'plugins/*.cpp' 'tools/*.cpp' \
  'ui/*.cpp'

lint: test-deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@$(LINT_SOURCES) | xargs -P 2 -n 4 clang-tidy-$(CLANG_VERSION) -p $(BUILD_DIR) --quiet \
	  --extra-arg=-Wno-deprecated-declarations
	@cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr --quiet \
	  --error-exitcode=1 -I . $$($(LINT_SOURCES))

# The Debian packages, built from a copy of the source under $(BUILD_DIR)/deb: the binary
# packages (deb) or the source package (dsc). deb-check builds both together and checks them
# (scripts/check-deb.sh): lintian, the installed files, autopkgtest, the home-folder install.
deb: package-deps
	@scripts/build-deb.sh $(BUILD_DIR) binary >/dev/null

dsc: package-deps
	@scripts/build-deb.sh $(BUILD_DIR) source >/dev/null

deb-check: package-deps build
	@scripts/check-deb.sh $(BUILD_DIR)

bench: test-deps build
	@python3 scripts/bench-report.py $(BUILD_DIR)/bench/quillfern-bench

clean:
	@rm -rf $(BUILD_DIR)
