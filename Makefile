# The commands of the README: `make run`, `make test` and `make package`. Each installs what is missing.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
# ccache, when there is one, makes a second build of a tree mostly cache hits.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)
# The second tree: clang with AddressSanitizer and UndefinedBehaviorSanitizer, and the libFuzzer
# targets (fuzz/), whose saved inputs its tests replay. fuzz/run fuzzes in it.
SANITIZE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	-DQVSCAN_SANITIZE=ON -DQVSCAN_FUZZ=ON $(LAUNCHER)
# The test run takes no warnings.
TEST_FLAGS = -DQVSCAN_WERROR=ON
# How long each stage of `make test` took, noted by scripts/stage and printed at its end.
TEST_TIMES = $(abspath $(BUILD))/stage-times.txt
STAGE = STAGE_TIMES=$(STAGE_TIMES) scripts/stage

.PHONY: all deps build run test test-stages test-plain test-sanitizers fuzz package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-simulated $(BUILD)

# Both trees, then a short fuzzing run of every target; the time of each stage at the end, also
# when one failed.
test: deps
	@mkdir -p $(BUILD) && rm -f $(TEST_TIMES)
	@start=$$(date +%s); $(MAKE) --no-print-directory test-stages STAGE_TIMES=$(TEST_TIMES); status=$$?; \
		echo "== time of each stage"; \
		awk -F '\t' '{ printf "%-16s %5d s  %s\n", $$1, $$2, $$3; t += $$2 } \
			END { printf "%-16s %5d s\n", "stages", t }' $(TEST_TIMES); \
		printf '%-16s %5d s\n' "make test" $$(($$(date +%s) - start)); \
		exit $$status

test-stages: test-plain test-sanitizers fuzz

test-plain: deps
	$(STAGE) "plain build" sh -c 'cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(TEST_FLAGS) && cmake --build $(BUILD) -j $(JOBS)'
	$(STAGE) "plain tests" ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitizers: deps
	$(STAGE) "sanitizer build" sh -c 'cmake -S . -B $(SANITIZE_BUILD) $(SANITIZE_FLAGS) $(TEST_FLAGS) && \
		cmake --build $(SANITIZE_BUILD) -j $(JOBS)'
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		$(STAGE) "sanitizer tests" ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# The Debian package, made from the build tree and left here as qvscan_<version>_<arch>.deb.
package: build
	rm -rf $(BUILD)/package
	cpack -G DEB --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	rm -f qvscan_*.deb
	cp $(BUILD)/package/qvscan_*.deb .

# libFuzzer targets for the parsers, a short run each in the sanitizer tree (FUZZ_SECONDS); see fuzz/run.
fuzz: deps
	FUZZ_BUILD=$(SANITIZE_BUILD) $(STAGE) fuzzing fuzz/run

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
