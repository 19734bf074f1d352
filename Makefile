# Front door of the build: configures CMake into build/ and drives it.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo clean

all: build

deps:
	scripts/install-deps

# The default preset of CMakePresets.json, in BUILD_DIR.
configure:
	cmake --preset default -B $(BUILD_DIR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The ordinary tests, then the same tests under ASan+UBSan (build-asan/), the
# pair loop under TSan (build-tsan/) and the fuzz targets (build-fuzz/), with
# one figure line per suite at the end.
test: deps
	$(MAKE) build
	JOBS=$(JOBS) scripts/sanitize-and-fuzz --normal $(BUILD_DIR)

# Only what the demo runs: the installer stub, hux-run and the module it loads.
DEMO_TARGETS = setup-stub hux-run rowmetric

demo: deps
	$(MAKE) configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO_TARGETS)
	scripts/demo $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz

# The module against scikit-learn and SciPy on generated workloads, with the
# bit-identity checks of its fast paths; prints one table (see bench/README.md).
.PHONY: bench
bench: deps
	$(MAKE) build
	/usr/bin/python3 bench/run_bench.py --driver $(BUILD_DIR)/bin/rowmetric_bench
