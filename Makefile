# Convenience front end to the CMake presets.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all build install package demo vtrd-demo test test-asan test-tsan test-all bench bench-plot fuzz tidy format clean

all: build

build:
	@.ci/deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

# Library, header, pkg-config file, CMake package, vtrctl, vtrsim, vtrconfig
# and man pages under PREFIX. Configured for PREFIX, so that under /usr on
# Debian the library goes to the multiarch directory (lib/x86_64-linux-gnu).
PREFIX ?= /usr/local
install:
	@.ci/deps
	cmake --preset $(PRESET) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)
	cmake --install build/$(PRESET)

# The Debian packages libvtr422-0, libvtr422-dev and vtr422-tools
# (build/deb/*.deb): a /usr build with Debian's build flags, without the tests.
DEB_BUILD = build/deb
package: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
package:
	@.ci/deps package
	cmake -S . -B $(DEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	  -DVTR_BUILD_TESTS=OFF -DVTR_BUILD_BENCH=OFF -DVTR_PACKAGE_DEBIAN=ON \
	  "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" \
	  "-DCMAKE_SHARED_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" >/dev/null
	cmake --build $(DEB_BUILD) -j $(JOBS)
	rm -f $(DEB_BUILD)/*.deb
	cd $(DEB_BUILD) && cpack -G DEB

# The main job: vtrctl against its embedded virtual deck. Builds vtrctl alone.
demo:
	@.ci/deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target vtrctl -j $(JOBS)
	./build/$(PRESET)/host/vtrctl --sim --script docs/demo.vtr
	@echo
	@echo "Next: build/$(PRESET)/host/vtrctl --sim   # the same deck at a prompt: open vcr alias tape, .watch tape"
	@echo "      man -l man/vtrctl.1                # every option and directive (man -l man/vtr422.3: the C library)"
	@echo "      make test                          # build everything and run the tests"

# vtrd, the deck service, on four virtual decks: prints the URL of its panel.
vtrd-demo:
	@.ci/deps vtrd
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target vtr422 -j $(JOBS)
	@echo "The panel asks for the control token: printed below at the first start, kept in ~/.config/vtrd/token"
	VTR422_LIBRARY=$(CURDIR)/build/$(PRESET)/lib/libvtr422.so.0 PYTHONPATH=$(CURDIR)/vtrd:$(CURDIR)/python \
	  /usr/bin/python3 -m vtrd --sim 4

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
