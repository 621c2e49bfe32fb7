# The two commands of the README, and a few conveniences around the presets.
.PHONY: all deps build build-asan build-tsan demo test test-fast bench clean

JOBS ?= $(shell nproc)

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

build-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

# The main job: every filter over the embedded demo track, into out/demo/.
demo: build
	build/host/tidewave demo

# Every test: the normal build, then AddressSanitizer + UndefinedBehaviorSanitizer,
# then ThreadSanitizer over the tests labelled "threads".
test: build build-asan build-tsan
	ctest --preset default -j $(JOBS)
	ctest --preset asan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# The normal build's tests only, for the edit-compile loop.
test-fast: build
	ctest --preset default -j $(JOBS)

bench: build
	@for b in build/bench/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

clean:
	rm -rf build build-asan build-tsan out
