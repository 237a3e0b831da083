# Single entry point: `make demo` and `make test` set everything up on a fresh Debian 12.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# CI builds with warnings as errors.
WERROR ?= $(if $(CI),ON,OFF)

.PHONY: all deps build demo test bench clean

all: build

deps:
	./scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPIKORA_WERROR=$(WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	./scripts/demo.sh $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	./bench/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
