# Thin wrapper over CMake; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CONFIG ?= examples/default.xml

.PHONY: deps configure build test run bench clean test-asan test-tsan fuzz fuzz-deps package

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/kvo-agent --config $(CONFIG) run

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	@for b in $(BUILD_DIR)/bench/*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz build-deb

# The Debian package kvo-agent_<version>_<arch>.deb, built in build-deb/ and
# left here (PACKAGE_VERSION: build as that newer version).
PACKAGE_WORK ?= build-deb
PACKAGE_OUT ?= .
package: deps
	scripts/build-package $(PACKAGE_WORK) $(PACKAGE_OUT) $(PACKAGE_VERSION)

# Sanitizer builds: each its own build directory, configured here.
CCACHE := $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# A finding fails the test that meets it; leaks of the libraries we call are
# suppressed in tests/lsan.supp, each with its reason.
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp

build-%/CMakeCache.txt:
	cmake -S . -B build-$* -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(SAN_FLAGS_$*)
SAN_FLAGS_asan := -DKVO_SANITIZE=address,undefined
SAN_FLAGS_tsan := -DKVO_SANITIZE=thread
SAN_FLAGS_fuzz := -DKVO_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps build-asan/CMakeCache.txt
	$(SAN_ENV) cmake --build build-asan -j $(JOBS)
	cd build-asan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# The unit tests, threaded ones among them, under ThreadSanitizer.
test-tsan: deps build-tsan/CMakeCache.txt
	$(SAN_ENV) cmake --build build-tsan -j $(JOBS) --target kvo_unit_tests im_unit_tests
	cd build-tsan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) -E '^(lua|e2e)\.'

# Each libFuzzer target for FUZZ_SECONDS from its seeds in tests/data/fuzz/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := $(notdir $(basename $(wildcard tests/fuzz/fuzz_*.cpp)))
fuzz-deps: deps
	@scripts/install-deps fuzz
fuzz: fuzz-deps build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p build-fuzz/corpus/$$t && \
	    echo "fuzz: $$t for $(FUZZ_SECONDS) s" && \
	    $(SAN_ENV) build-fuzz/bin/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
	        build-fuzz/corpus/$$t tests/data/fuzz/$${t#fuzz_} || exit 1; \
	done
