# Entry points. Each target first installs what is missing (on Debian, as
# root), then configures and builds with CMake and Ninja.
#   make test   build everything and run the tests, but the soak
#   make soak   build and run the soak test of the file watcher for
#               SOAK_SECONDS, a minute by default
#   make demo   render the example template and watch a folder
#   make bench  build in Release and run the benchmarks
#   make test-windows  cross-build for Windows with MinGW, run the tests under Wine
#   make fuzz   build the fuzzers with clang and run each for FUZZ_SECONDS
#   make tidy   run clang-tidy on the library's and the tools' sources
#   make docs   build the API reference into $(BUILD_DIR)/doc/html
#   make package  build the Debian packages into $(BUILD_DIR)/packages

BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-release
WINDOWS_BUILD_DIR ?= build-windows
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 60
TIDY_BUILD_DIR ?= build-tidy
PACKAGE_BUILD_DIR ?= build-package
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
# GoogleTest from its sources, cross-built; RapidJSON is headers only
WINDOWS_PACKAGES := cmake ninja-build rapidjson-dev googletest g++-mingw-w64-x86-64-posix wine64
CLANG_PACKAGES := clang libclang-rt-14-dev clang-tidy
# CPack's DEB generator (dpkg-shlibdeps, file), lintian, help2man for the
# tools' man pages, pkg-config for the consumer built without CMake
PACKAGING_PACKAGES := dpkg-dev file lintian help2man pkg-config

.PHONY: all deps bench-deps clang-deps configure build test soak demo bench docs test-windows fuzz tidy package clean

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

clang-deps: deps
	$(call install_packages,$(CLANG_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE soak

soak: build
	QUENFOLD_SOAK_SECONDS=$(SOAK_SECONDS) ctest --test-dir $(BUILD_DIR) --verbose -L soak

demo: build
	@bash examples/demo.sh $(BUILD_DIR)

bench: bench-deps
	cmake -S . -B $(BENCH_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENFOLD_BUILD_TESTS=OFF -DQUENFOLD_BUILD_BENCHMARKS=ON $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	@bash bench/run.sh $(BENCH_BUILD_DIR)

# Doxygen's warnings, undocumented members included, fail the build
docs:
	$(call install_packages,doxygen)
	@mkdir -p $(BUILD_DIR)/doc
	( cat doc/Doxyfile; echo "OUTPUT_DIRECTORY = $(BUILD_DIR)/doc" ) | doxygen -
	@echo "API reference: $(BUILD_DIR)/doc/html/index.html"

test-windows:
	$(call install_packages,$(WINDOWS_PACKAGES))
	@bash cmake/test-windows.sh $(WINDOWS_BUILD_DIR) $(JOBS)

# Optimised, with assertions kept: a failed one is a finding
fuzz: clang-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
		-DQUENFOLD_BUILD_TESTS=OFF -DQUENFOLD_BUILD_TOOLS=OFF -DQUENFOLD_BUILD_FUZZERS=ON -DQUENFOLD_SANITIZERS=address,undefined $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh $(FUZZ_BUILD_DIR)

# Configuring with clang is enough: clang-tidy reads the compile commands
tidy: clang-deps
	CC=clang CXX=clang++ cmake -S . -B $(TIDY_BUILD_DIR) -G Ninja $(CMAKE_ARGS)
	git ls-files 'QuenfoldEditor/*.cpp' 'QuenfoldEngine/*.cpp' 'tools/*.cpp' ':!:*/Test/*' | \
		xargs -P $(JOBS) -n 1 clang-tidy -p $(TIDY_BUILD_DIR) --quiet

# The libraries and tools in Release with Debian's build flags, for /usr and
# without RPATH; with the bundled Corrade subset, which unlike the real
# Corrade has a package of its own beside them
package: deps
	$(call install_packages,$(PACKAGING_PACKAGES))
	cmake -S . -B $(PACKAGE_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_SKIP_INSTALL_RPATH=ON -DQUENFOLD_BUILD_TESTS=OFF -DQUENFOLD_BUILD_TOOLS=ON \
		-DQUENFOLD_BUILD_MANPAGES=ON -DQUENFOLD_CORRADE=BUNDLED \
		"-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
		"-DCMAKE_SHARED_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_ARGS)
	cmake --build $(PACKAGE_BUILD_DIR) -j $(JOBS)
	rm -rf $(BUILD_DIR)/packages
	cd $(PACKAGE_BUILD_DIR) && cpack -D CPACK_OUTPUT_FILE_PREFIX=$(abspath $(BUILD_DIR))/packages

clean:
	rm -rf $(BUILD_DIR) $(BENCH_BUILD_DIR) $(WINDOWS_BUILD_DIR) $(FUZZ_BUILD_DIR) $(TIDY_BUILD_DIR) $(PACKAGE_BUILD_DIR)
