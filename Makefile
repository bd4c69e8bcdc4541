# make demo   install dependencies, build, convert the sample TIFFs
# make test   install dependencies, build, run the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo gui bench fuzz sanitize package clean format-check tidy \
        windows-deps windows windows-test windows-package

all: build

deps:
	scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QUORVEX_PACKAGE_TESTS=1 ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo.sh $(BUILD)

# Times the converter against tiff2pdf, img2pdf and ImageMagick on the shared corpus,
# and the GNU parallel recipe against -j alone.
bench: build
	scripts/install-deps.sh --bench
	bench/run-bench.sh $(BUILD)

# The suite under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# concurrency tests under ThreadSanitizer.
sanitize: deps
	scripts/sanitize.sh address
	scripts/sanitize.sh thread

# libFuzzer on whole conversions for FUZZ_SECONDS (default 300).
fuzz: deps
	scripts/fuzz.sh

package: build
	cmake --build $(BUILD) --target package

gui: build
	$(BUILD)/bin/quorvex-tiff2pdf-gui

# clang-format's verdict on every source, and clang-tidy's on the project's own.
format-check: deps
	scripts/check-format.sh

tidy: configure
	git ls-files 'engine/*.cpp' 'cli/*.cpp' 'app/*.cpp' | grep -v PlatformWindows | xargs clang-tidy -p $(BUILD) --quiet

clean:
	rm -rf $(BUILD)

# The engine and the command line for 64-bit Windows (MinGW-w64), with the
# libraries built static from Debian's source packages: one .exe, no DLLs.
WINDOWS_BUILD ?= build-windows

windows-deps: deps
	scripts/install-deps.sh --windows
	scripts/build-windows-deps.sh

# The sRGB profile is made by a program of the build machine's, so the native
# build makes its source for the cross build.
windows: windows-deps configure
	cmake --build $(BUILD) --target quorvex_srgb_profile_source
	mkdir -p $(WINDOWS_BUILD)
	$(BUILD)/bin/quorvex_srgb_profile_source $(WINDOWS_BUILD)/SrgbProfile.cpp
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DQUORVEX_BUILD_GUI=OFF -DQUORVEX_BUILD_BENCH=OFF \
	  -DQUORVEX_SRGB_PROFILE_SOURCE_FILE=$(abspath $(WINDOWS_BUILD))/SrgbProfile.cpp \
	  $(WINDOWS_CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows build's tests under Wine.
windows-test: windows
	scripts/windows-test.sh $(WINDOWS_BUILD)

# The release .zip: the .exe, the manual as text, the static libraries' licences.
windows-package: windows
	scripts/windows-package.sh $(WINDOWS_BUILD)
