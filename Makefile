# Single entry point: `make run` and `make test` set everything up on a fresh Debian 12.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# CI builds with warnings as errors.
WERROR ?= $(if $(CI),ON,OFF)

# The sanitized build (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and the fuzz targets
# share a folder of their own. FUZZ_SECONDS is each fuzz target's run time.
SANITIZE_DIR ?= build-asan
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run demo test bench mutants install deb clean configure-sanitized check-sanitized fuzz

all: build

deps:
	./scripts/deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPIKORA_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Opens the window; arguments for it go in ARGS (make run ARGS="--compress ~/Pictures").
run: build
	$(BUILD_DIR)/src/pikora $(ARGS)

# For machines without a display: compress, verify and restore sample photos with the CLI.
demo: build
	./scripts/demo.sh $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	./bench/run.sh $(BUILD_DIR)

# Plants the faults listed in tests/mutants.list one at a time (in a build folder of its own) and
# reports the ones the tests miss. Takes long: each fault is a rebuild and a run of its suites.
mutants: deps
	python3 scripts/mutants.py --build $(BUILD_DIR)-mutants --jobs $(JOBS)

# Honours PREFIX and DESTDIR (make install PREFIX=/usr DESTDIR=/tmp/stage).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# pikora_<version>_<arch>.deb in the build folder.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB

configure-sanitized: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
		-DPIKORA_SANITIZE=ON -DPIKORA_FUZZ=ON

# Every suite under the sanitizers; any report, also from a program a test starts, fails it.
check-sanitized: configure-sanitized
	./scripts/check-sanitized.sh $(SANITIZE_DIR) $(JOBS)

fuzz: configure-sanitized
	cmake --build $(SANITIZE_DIR) --target fuzzers -j $(JOBS)
	./scripts/fuzz.sh $(SANITIZE_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
