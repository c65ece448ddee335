# The commands of the README: `make run`, `make test` and `make package`. Each installs what is missing.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test test-plain test-sanitizers fuzz package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-simulated $(BUILD)

test: test-plain test-sanitizers fuzz

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitizers: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVSCAN_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The Debian package, made from the build tree and left here as qvscan_<version>_<arch>.deb.
package: build
	rm -rf $(BUILD)/package
	cpack -G DEB --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	rm -f qvscan_*.deb
	cp $(BUILD)/package/qvscan_*.deb .

# libFuzzer targets for the parsers, a short run each (FUZZ_SECONDS, default 20); see fuzz/run.
fuzz: deps
	fuzz/run

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
