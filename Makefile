# Convenience front end to the CMake presets.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all build demo test test-asan test-tsan test-all bench tidy format clean

all: build

build:
	@.ci/deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

# The main job: vtrctl against the embedded virtual deck.
demo: build
	./build/$(PRESET)/host/vtrctl --sim --script docs/demo.vtr

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	@.ci/deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

test-all: test test-asan test-tsan

bench:
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)
	./build/default/bench/vtr_bench

tidy:
	cmake --preset default >/dev/null
	run-clang-tidy -quiet -p build/default '/(driver|link|monitor|commands|config)/.*\.cpp$$'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
