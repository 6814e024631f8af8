# Two commands: `make run` builds and runs the default example,
# `make test` builds and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build run test bench deps clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Builds only the command it runs, not the tests and benchmarks.
run: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target velix
	$(BUILD)/velix --lib examples examples/default.vx

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	for b in $(BUILD)/bench_*; do $$b; done

# Debian packages the build needs (a fresh machine of this kind has most).
deps:
	bash .ci/install-deps

clean:
	rm -rf $(BUILD)
