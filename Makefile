# Newcomer commands: `make run` and `make test` (both install what is missing first).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DTOVAMI_WERROR=$(if $(CI),ON,OFF) $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build run test test-unit install format clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts Tovami on this display; without one, in a private virtual X server (see the folder it names).
run: build
	@./scripts/run.sh $(BUILD_DIR)/tovami

# Every test: logic, backend, and the real program under a private Xvfb and D-Bus.
test: build
	@./scripts/test.sh $(BUILD_DIR)

test-unit: build
	@cd $(BUILD_DIR) && ctest -L unit --output-on-failure -j $(JOBS)

install: build
	@cmake --install $(BUILD_DIR)

format:
	@find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)
