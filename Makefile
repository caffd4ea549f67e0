# Velmora: the two everyday commands are `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build run test test-sanitize fuzz bench install deb clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/app/velmora

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure --timeout 300 -j $(JOBS)

# libFuzzer builds of the parsers (clang); run one with e.g.
#   build-fuzz/tests/fuzz/fuzz_bmp -max_total_time=300 tests/fuzz/corpus/bmp
fuzz:
	@VELMORA_WITH_FUZZ=1 scripts/install-deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

# Velmora against ImageMagick, GraphicsMagick and libvips on real photos
# (about ten minutes; VELMORA_BENCH_ROUNDS=1 for a quick look).
bench:
	@VELMORA_WITH_TOOLS=1 scripts/install-deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target velmora-batch velmora-thumbs velmora-viewer-bench velmora-listing-bench
	@BUILD=$(BUILD) bench/run.sh

# Installs under PREFIX (default /usr/local); DESTDIR stages the files
# elsewhere, as packagers do.
install: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target velmora velmora-batch
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# A Debian package from debian/, built in a copy of the tree under
# $(BUILD)/deb and checked with lintian.
deb:
	@VELMORA_WITH_DEB=1 scripts/install-deps
	@scripts/make-deb $(BUILD)/deb

clean:
	@rm -rf build build-sanitize build-fuzz
