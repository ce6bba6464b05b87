# The two set-up commands of the README, and a few more for developers.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON
# The compiler cache sees paths relative to the checkout, so another clone of the same sources
# reuses its compiles.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps configure build run test fuzz tsan asan ci-tsan ci-asan bench format

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Build, set up this user's installation once, and start Korrin.
run: build
	bash scripts/setup-user.sh $(BUILD)
	$(BUILD)/korrin

# Build, run the fuzz targets for a short while, then every test (ctest's summary comes last).
test: build
	bash scripts/fuzz-smoke.sh
	ctest --test-dir $(BUILD) --output-on-failure -j 2

# The fuzz targets, each for FUZZ_SECONDS (default 300).
fuzz: deps
	FUZZ_SECONDS=$${FUZZ_SECONDS:-300} bash scripts/fuzz-smoke.sh

# CI: the tests labelled "threads", built and run under ThreadSanitizer.
ci-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DKORRIN_WERROR=ON -DKORRIN_SANITIZE=thread -DKORRIN_BENCH=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-tsan -j $(JOBS) --target korrin_threads_tests
	ctest --test-dir build-tsan --output-on-failure -j 2 -L threads

# CI: every test built and run under AddressSanitizer and UBSan (the fuzz targets already run
# under them in the test command), at -O1 with line tables only, which halves the build. The
# compiler's warnings are the plain build's business: instrumented code gives false ones. The
# kill tests make 40 killed runs each here (the plain run makes their full count).
ci-asan: deps
	cmake -S . -B build-asan -G Ninja -DKORRIN_WERROR=OFF -DKORRIN_SANITIZE=address -DKORRIN_BENCH=OFF \
		-DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1 -g1" -DCMAKE_C_FLAGS="-O1 -g1"
	cmake --build build-asan -j $(JOBS)
	KORRIN_KILL_RUNS=$${KORRIN_KILL_RUNS:-40} UBSAN_OPTIONS=print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
		ctest --test-dir build-asan --output-on-failure -j 2

# Sanitizer builds of the whole suite.
asan: ci-asan
tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DKORRIN_WERROR=ON -DKORRIN_SANITIZE=thread -DKORRIN_BENCH=OFF"

bench: build
	bash scripts/run-bench.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
