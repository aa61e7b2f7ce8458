# Entry points. Each target first installs what is missing (on Debian, as
# root), then configures and builds with CMake and Ninja.
#   make test   build everything and run the tests, but the soak
#   make soak   build and run the minute-long soak test of the file watcher
#   make demo   render the example template and watch a folder
#   make bench  build in Release and run the benchmarks

BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-release
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Warnings are errors in CI
ifeq ($(CI),true)
CMAKE_ARGS += -DQUENFOLD_WERROR=ON
endif

PACKAGES := cmake ninja-build g++ rapidjson-dev libgtest-dev libbenchmark-dev
# Node.js may come from elsewhere than Debian, with npm bundled: Debian's
# npm would then conflict with it
NODE_PACKAGES := $(if $(shell command -v npm 2>/dev/null),,nodejs npm)
BENCH_PACKAGES := libkainjow-mustache-dev libmstch-dev inotify-tools $(NODE_PACKAGES)

.PHONY: all deps bench-deps configure build test soak demo bench clean

all: build

# Installs the missing Debian packages when root on Debian, otherwise says
# what is missing and goes on
define install_packages
	@missing=""; \
	for package in $(1); do \
		dpkg-query -W -f='$${Status}' $$package 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$package"; \
	done; \
	if [ -z "$$missing" ]; then :; \
	elif [ ! -f /etc/debian_version ] || ! command -v apt-get >/dev/null; then \
		echo "Not a Debian system: skipping the install of$$missing; install them yourself."; \
	elif [ "$$(id -u)" != 0 ]; then \
		echo "Not root: skipping the install of$$missing; run 'sudo apt-get install$$missing' if the build fails."; \
	else \
		echo "Installing$$missing"; \
		DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing >/dev/null || \
		{ apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing >/dev/null; }; \
	fi
endef

deps:
	$(call install_packages,$(PACKAGES))

bench-deps: deps
	$(call install_packages,$(BENCH_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE soak

soak: build
	ctest --test-dir $(BUILD_DIR) --verbose -L soak

demo: build
	@bash examples/demo.sh $(BUILD_DIR)

bench: bench-deps
	cmake -S . -B $(BENCH_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENFOLD_BUILD_TESTS=OFF -DQUENFOLD_BUILD_BENCHMARKS=ON $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	@bash bench/run.sh $(BENCH_BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(BENCH_BUILD_DIR)
