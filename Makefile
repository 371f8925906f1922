# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD_DIR ?= build
CMAKE_FLAGS ?=

.PHONY: all deps test-deps configure build run demo test bench install clean

all: build

deps:
	@scripts/install-deps.sh

test-deps:
	@scripts/install-deps.sh --test

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	@$(BUILD_DIR)/app/quillfern

demo: build
	@$(BUILD_DIR)/tools/quillfern-render scores/demo.score -o $(BUILD_DIR)/demo.wav
	@echo "Rendered scores/demo.score to $(BUILD_DIR)/demo.wav"

install: build
	@cmake --install $(BUILD_DIR)

test: test-deps build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j 2

bench: build
	@python3 scripts/bench-report.py $(BUILD_DIR)/bench/quillfern-bench

clean:
	@rm -rf $(BUILD_DIR)
