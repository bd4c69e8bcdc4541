# make demo   install dependencies, build, convert the sample TIFFs
# make test   install dependencies, build, run the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo gui bench fuzz sanitize package clean format-check tidy

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
	git ls-files 'engine/*.cpp' 'cli/*.cpp' 'app/*.cpp' | xargs clang-tidy -p $(BUILD) --quiet

clean:
	rm -rf $(BUILD)
