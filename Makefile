# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: run test build deps asan tsan bench fuzz fuzz-merge fuzz-coverage soak install clean

deps:
	@bash scripts/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

# Only the tool: the tests are built by `make test`. The capture settles its exposure first and
# balances white, in settings of its own (build/run-settings), so the run changes no saved ones.
run: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target bayercam -j $(JOBS)
	@rm -rf build/run-settings
	./build/tools/bayercam --sim --settings-dir build/run-settings capture --auto-exposure \
		--auto-white-balance --overwrite -n 30 -o capture

test: build
	ctest --preset default -j $(JOBS)

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	BAYERCAM_FAULT_STRIDE=8 ctest --preset asan -j $(JOBS)

# Under TSan everything but the single-threaded fault, removal and soak runs, which ASan covers.
tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS) -LE 'faultinject|removal|soak'

bench: build
	./build/bench/bayercam-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Each fuzz target runs FUZZ_SECONDS under clang's libFuzzer with ASan and UBSan; new inputs go to
# build-fuzz/corpus, crashes to tests/fuzz/crashes/<target>/ (replayed by ctest once committed).
# FUZZ_PARALLEL targets run at a time, at FUZZ_NICE; FUZZ_TARGETS picks some, FUZZ_RUNS stops each
# after that many inputs (see scripts/fuzz).
# fuzz-merge adds the inputs that found new coverage to tests/fuzz/corpus; fuzz-coverage replays
# the corpora through a clang coverage build and reports the driver's line coverage.
FUZZ_SECONDS ?= 60
FUZZ_PARALLEL ?= 1
FUZZ_NICE ?= 0
export FUZZ_SECONDS FUZZ_PARALLEL FUZZ_NICE FUZZ_TARGETS FUZZ_RUNS JOBS
fuzz: deps
	@bash scripts/fuzz run
fuzz-merge: deps
	@bash scripts/fuzz merge
fuzz-coverage: deps
	@bash scripts/fuzz coverage

# 100,000 frames at full speed with controls changing at random, then 1,000 stop/start cycles.
SOAK_FRAMES ?= 100000
SOAK_CYCLES ?= 1000
soak: build
	./build/tools/soak/bayercam-soak --frames $(SOAK_FRAMES) --cycles $(SOAK_CYCLES)

# Headers, libbayercam, the tool, the udev rule, bayercam.pc and the CMake package under PREFIX.
PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-coverage
