# The two commands of the README, and a few conveniences around the presets.
.PHONY: all deps build build-asan build-tsan demo test test-fast bench fuzz-smoke package clean

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

# A short libFuzzer run of each picture translator (FUZZ_SECONDS each), from
# the corpus in fuzz/corpus/<format>/. New inputs go to build-fuzz/, not into
# the repository; a crash leaves its input in build-fuzz/artifacts/.
FUZZ_SECONDS ?= 20
fuzz-smoke: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTW_BUILD_FUZZ=ON -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target fuzz_png fuzz_jpeg fuzz_tga
	@mkdir -p build-fuzz/artifacts
	@for f in png jpeg tga; do \
	  echo "== fuzz_$$f ($(FUZZ_SECONDS) s)"; \
	  mkdir -p build-fuzz/corpus-$$f; \
	  build-fuzz/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -rss_limit_mb=2048 \
	    -artifact_prefix=build-fuzz/artifacts/$$f- -print_final_stats=1 \
	    build-fuzz/corpus-$$f fuzz/corpus/$$f > build-fuzz/fuzz-$$f.log 2>&1; rc=$$?; \
	  tail -n 3 build-fuzz/fuzz-$$f.log; [ $$rc -eq 0 ] || exit $$rc; \
	done

# A Debian package of the installation (for /usr), in build-package/:
# tidewave_<version>_amd64.deb, installable with apt install ./tidewave_*.deb.
package: deps
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF >/dev/null
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB
	@ls build-package/tidewave_*.deb

clean:
	rm -rf build build-asan build-tsan build-package out
