# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: run test build deps asan tsan bench fuzz soak install clean

deps:
	@bash scripts/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

# Only the tool: the tests are built by `make test`.
run: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target bayercam -j $(JOBS)
	./build/tools/bayercam --sim capture -n 30 -o capture

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
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := registry_text config_descriptor command_packets data_formats property_requests
fuzz: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DBAYERCAM_FUZZ=ON -DBAYERCAM_SANITIZE=address,undefined >/dev/null
	@cmake --build build-fuzz --target bayercam-fuzzers -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p build-fuzz/corpus/$$t; \
		./build-fuzz/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=tests/fuzz/crashes/$$t/ build-fuzz/corpus/$$t tests/fuzz/corpus/$$t \
			2>build-fuzz/fuzz_$$t.log; status=$$?; \
		echo "$$t: $$(grep -o 'number_of_executed_units: *[0-9]*' build-fuzz/fuzz_$$t.log | grep -o '[0-9]*$$') executions, exit $$status"; \
		[ $$status -eq 0 ] || exit $$status; \
	done

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
	rm -rf build build-asan build-tsan build-fuzz
