# The two commands of the README, and a few conveniences around the presets.
.PHONY: all deps build build-asan build-tsan demo test test-fast bench fuzz-build fuzz-smoke fuzz-long format-check format clean

JOBS ?= $(shell nproc)
# WERROR=ON turns every warning into an error (CI sets it); local builds stay
# lenient.
WERROR ?= OFF
# What format-check covers; empty is the whole tree.
FORMAT_PATHS ?= addons bench data examples filterkit fuzz platform tests/addons tests/filterkit tests/harness \
  tests/platform

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default -DTW_WERROR=$(WERROR) >/dev/null
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan -DTW_WERROR=$(WERROR) >/dev/null
	cmake --build --preset asan -j $(JOBS)

build-tsan: deps
	cmake --preset tsan -DTW_WERROR=$(WERROR) >/dev/null
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

# libFuzzer runs of every parser: the picture translators, the record files
# of --replay, the add-ons' resource container. Each starts from its seeds in
# fuzz/corpus/<target>/; what it learns goes to build-fuzz/, not into the
# repository; a finding leaves its input in build-fuzz/artifacts/. A target
# whose corpus did not grow fails too (scripts/fuzz-run).
FUZZ_TARGETS = png jpeg tga record resources
FUZZ_SECONDS ?= 20

fuzz-build: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTW_BUILD_FUZZ=ON -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

# FUZZ_SECONDS (20) each, for CI.
fuzz-smoke: fuzz-build
	scripts/fuzz-run $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Ten minutes each, to run now and then.
fuzz-long: fuzz-build
	scripts/fuzz-run 600 $(FUZZ_TARGETS)

# Every C++ file under FORMAT_PATHS as the root .clang-format makes it.
format-check: deps
	scripts/check-format $(FORMAT_PATHS)

format: deps
	scripts/check-format --fix $(FORMAT_PATHS)

clean:
	rm -rf build build-asan build-tsan build-fuzz out
