# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: run test build deps asan tsan bench clean

deps:
	@bash scripts/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

run: build
	./build/tools/bayercam --sim capture -n 30 -o capture

test: build
	ctest --preset default -j $(JOBS)

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

bench: build
	./build/bench/bayercam-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

clean:
	rm -rf build build-asan build-tsan
