# Two commands: `make run` builds and runs the default example,
# `make test` builds and runs every test.
BUILD ?= build
# The optimised command (-O3, link-time optimisation, the C++ runtime linked
# in) that `make run` runs and `make bench` times, in a folder of its own.
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# `make fuzz` runs each libFuzzer target for FUZZ_SECONDS (60 by default)
# on a corpus seeded from examples/, the test data and the regression
# corpus; `make fuzz-replay` runs the regression corpus once.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = program csv
FUZZ_REGRESSIONS = tests/fuzz/regressions
# The program target works in a scratch folder: its paths are absolute.
FUZZ_DIR = $(abspath $(FUZZ_BUILD))

.PHONY: all build run test bench deps clean fuzz fuzz-build fuzz-replay

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

$(RELEASE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DVELIX_LTO=ON -DVELIX_STATIC_RUNTIME=ON $(CMAKE_FLAGS)

# Builds only the command it runs, not the tests and benchmarks.
run: $(RELEASE_BUILD)/CMakeCache.txt
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target velix
	$(RELEASE_BUILD)/velix --lib examples examples/default.vx

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The kernel and optimizer benchmarks, then the whole command on the
# reference models (bench/models.sh), on the workloads beside the peer
# packages (bench/workloads.sh), on profile likelihood limits
# (bench/profile.sh), on the scale model of 1,000 variables with its
# peak memory (bench/big_model.sh), on raw data sets of up to 10^7 rows
# (bench/stream.sh) and on BY data sets of up to 10^5 groups
# (bench/by_groups.sh), all from the optimised build.
bench: $(RELEASE_BUILD)/CMakeCache.txt
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target benchmarks
	for b in $(RELEASE_BUILD)/bench_*; do $$b; done
	bash bench/models.sh $(RELEASE_BUILD)/velix
	bash bench/workloads.sh $(RELEASE_BUILD)/velix
	bash bench/profile.sh $(RELEASE_BUILD)/velix
	bash bench/big_model.sh $(RELEASE_BUILD)/velix
	bash bench/stream.sh $(RELEASE_BUILD)/velix
	bash bench/by_groups.sh $(RELEASE_BUILD)/velix

# Debian packages the build needs (a fresh machine of this kind has most).
deps:
	bash .ci/install-deps

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)

# clang and the libFuzzer runtime are installed here, when missing, rather
# than with the build's other packages: only the fuzz targets use them.
fuzz-build:
	bash .ci/install-deps --fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DVELIX_FUZZ=ON -DVELIX_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

# Seeds: the programs of examples/ and tests/fixtures for the program
# target, their data sets for the CSV target.  A finding is written to
# $(FUZZ_BUILD)/findings; once mended, keep it in $(FUZZ_REGRESSIONS).
fuzz: fuzz-build
	for t in $(FUZZ_TARGETS); do \
	  ext=$$( [ $$t = program ] && echo vx || echo csv ); \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/findings; \
	  cp examples/*.$$ext tests/fixtures/*.$$ext $(FUZZ_REGRESSIONS)/$$t/* $(FUZZ_DIR)/corpus/$$t/ 2>/dev/null; \
	  $(FUZZ_DIR)/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
	    -artifact_prefix=$(FUZZ_DIR)/findings/$$t- $(FUZZ_DIR)/corpus/$$t || exit 1; \
	done

fuzz-replay: fuzz-build
	for t in $(FUZZ_TARGETS); do \
	  $(FUZZ_DIR)/fuzz_$$t -timeout=20 $(CURDIR)/$(FUZZ_REGRESSIONS)/$$t/* || exit 1; \
	done
