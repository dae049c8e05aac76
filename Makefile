# Newcomer commands: `make run` and `make test` (both install what is missing first).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CCACHE = $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CMAKE_FLAGS ?= -DTOVAMI_WERROR=$(if $(CI),ON,OFF) $(CCACHE)
# The sanitized tree (address and undefined behaviour): with clang when installed, which also
# builds the fuzz targets; benchmarks are left out (timings under the sanitizers mean nothing).
# Warnings gate the plain build only, so a clang-only warning does not fail CI.
SAN_BUILD_DIR ?= build-asan
CLANGXX = $(shell command -v clang++)
SAN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Debug -DTOVAMI_SANITIZE=ON -DTOVAMI_BUILD_BENCHMARKS=OFF $(CCACHE) \
  $(if $(CLANGXX),-DCMAKE_CXX_COMPILER=$(CLANGXX) -DTOVAMI_BUILD_FUZZERS=ON)
FUZZ_SECONDS ?= 600
# Where `make package` leaves the Debian package.
PACKAGE_DIR ?= dist

.PHONY: all deps configure build sanitized run test test-unit fuzz install package package-test format clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts Tovami on this display; without one, in a private virtual X server (see the folder it names).
# Builds only the program, quietly: the compiler's output shows only when the build fails.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tovami tovami-desktop >$(BUILD_DIR)/run-build.log 2>&1 || \
	  { tail -n 60 $(BUILD_DIR)/run-build.log; echo "The build failed; its whole output is in $(BUILD_DIR)/run-build.log"; exit 1; }
	@./scripts/run.sh $(BUILD_DIR)/tovami

sanitized: deps
	@cmake -S . -B $(SAN_BUILD_DIR) $(SAN_CMAKE_FLAGS) >/dev/null
	@cmake --build $(SAN_BUILD_DIR) -j $(JOBS)

# Every test: logic, backend, and the real program under a private Xvfb and D-Bus; then all of
# it again built with the sanitizers, and a short run of each fuzz target.
test: build sanitized
	@./scripts/test.sh $(BUILD_DIR) $(SAN_BUILD_DIR)

test-unit: build
	@cd $(BUILD_DIR) && ctest -L unit --output-on-failure -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS (default 600); findings land in $(SAN_BUILD_DIR)/fuzz/artifacts.
fuzz: sanitized
	@test -n "$(CLANGXX)" || { echo "make fuzz needs clang (apt-get install clang libclang-rt-14-dev)"; exit 1; }
	@./scripts/fuzz.sh $(FUZZ_SECONDS) $(SAN_BUILD_DIR)/fuzz/*_fuzzer

install: build
	@cmake --install $(BUILD_DIR)

# The Debian package, built with dpkg-buildpackage from debian/ (no tests: `make test` runs them).
package: deps
	@./scripts/build-package.sh $(PACKAGE_DIR) $(JOBS)

# Installs the package, checks the installed program, lintian, purges (as root, or through sudo).
package-test: package
	@./scripts/package-test.sh $(PACKAGE_DIR)

format:
	@find src tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(SAN_BUILD_DIR) $(PACKAGE_DIR)
