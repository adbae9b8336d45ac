# Convenience front end to the CMake presets.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all build install package demo test test-asan test-tsan test-all bench bench-plot fuzz tidy format clean

all: build

build:
	@.ci/deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

# Library, header, pkg-config file, vtrctl, vtrsim and man pages under PREFIX.
PREFIX ?= /usr/local
install: build
	cmake --install build/$(PRESET) --prefix $(PREFIX)

# The Debian package (build/PRESET/vtr422_VERSION_ARCH.deb).
package: build
	cd build/$(PRESET) && cpack -G DEB

# The main job: vtrctl against the embedded virtual deck.
demo: build
	./build/$(PRESET)/host/vtrctl --sim --script docs/demo.vtr

test: build
	-@.ci/deps test  # the tests that need these skip without them
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	@.ci/deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

test-all: test test-asan test-tsan

BENCH_JSON ?= build/$(PRESET)/bench/bench.json

bench:
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)
	./build/default/bench/vtr_bench --benchmark_out=$(BENCH_JSON) --benchmark_out_format=json

# Processor time against devices, before (bench/results/before.json) and after (the last bench run).
bench-plot:
	bench/plot_cpu.py bench/results/before.json $(BENCH_JSON) docs/cpu_per_device.png

# libFuzzer, for a bounded time each (needs clang): the command-string parser,
# the reply side of the exchange, the profile reader.
FUZZ_SECONDS ?= 60
FUZZERS = host/host_parser_fuzzer core/core_reply_fuzzer platform/profile_fuzzer
fuzz:
	@.ci/deps fuzz
	CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVTR_BUILD_BENCH=OFF >/dev/null
	cmake --build build/fuzz --target $(notdir $(FUZZERS)) -j $(JOBS)
	for f in $(FUZZERS); do \
	  mkdir -p build/fuzz/corpus/$$(basename $$f) && \
	  ./build/fuzz/tests/$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    build/fuzz/corpus/$$(basename $$f) || exit 1; \
	done

tidy:
	cmake --preset default >/dev/null
	run-clang-tidy -quiet -p build/default '$(CURDIR)/(record|config|link|monitor|completion|commands|dialogs|driver)/.*\.cpp$$'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
