# make run: build and start the program.  make test: build and run every test.
# make bench: build and run the benchmarks.  make sanitize: the memory-safety build (its own
# folder) runs the media, capture-window and player tests and fuzzes the file readers and the
# check of camera pictures for a while.
# make windows: build-win32/kelvra.exe, the 32-bit Windows program, with mingw-w64.
# make windows: also build-win32/kelvra-1.2-setup.exe, its installer, with makensis.
# make install PREFIX=...: install the built program.  make deb: the Debian package.
# Each first installs the Debian packages it needs (scripts/install-deps.sh, by purpose): run,
# build and install what building and running need; test adds the test tools, Wine, NSIS and
# mingw-w64; sanitize, windows, deb and bench add their own.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
WIN32_BUILD ?= build-win32
PREFIX ?= /usr/local
SANITIZE_BUILD ?= build-sanitize
FUZZ_SECONDS ?= 60
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0

.PHONY: all deps test-deps sanitize-deps configure build run test bench sanitize fuzz windows install deb clean

all: build

DEPS = ./scripts/install-deps.sh

deps:
	@$(DEPS) build

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/kelvra

# The tests are configured once GoogleTest is there: a build folder made by `make build` is
# configured again after the test packages come in.
test-deps:
	@$(DEPS) build test

test: test-deps configure
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

bench: test-deps configure
	@$(DEPS) bench
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD) -j $(JOBS)
	@./bench/run.sh $(BUILD)

sanitize-deps:
	@$(DEPS) build test sanitize

$(SANITIZE_BUILD)/build.ninja: | sanitize-deps
	cmake -S . -B $(SANITIZE_BUILD) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++ -DKELVRA_SANITIZE=ON

sanitize: sanitize-deps $(SANITIZE_BUILD)/build.ninja
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) --no-print-directory fuzz

# Each fuzz target runs for FUZZ_SECONDS from the seeds; a crash input lands in
# $(SANITIZE_BUILD)/fuzz/crashes/ (save it under tests/fuzz/crashes/<target>/ once mended).
fuzz: $(SANITIZE_BUILD)/build.ninja
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target fuzz_avi_reader fuzz_avi_continue fuzz_jpeg_scan
	@for t in avi_reader avi_continue jpeg_scan; do \
	  seeds=tests/fuzz/seeds; dict=tests/fuzz/avi.dict; \
	  if [ $$t = jpeg_scan ]; then seeds=tests/fuzz/seeds-jpeg; dict=tests/fuzz/jpeg.dict; fi; \
	  crashes=tests/fuzz/crashes/$$t; [ -d $$crashes ] || crashes=; \
	  work=$(SANITIZE_BUILD)/fuzz/corpus-$$t; mkdir -p $$work $(SANITIZE_BUILD)/fuzz/crashes; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  $(SANITIZER_ENV) $(SANITIZE_BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -rss_limit_mb=2048 -dict=$$dict -print_final_stats=1 -artifact_prefix=$(SANITIZE_BUILD)/fuzz/crashes/$$t- \
	    $$work $$seeds $$crashes 2>&1 | grep -E '^(stat::|INFO: Loaded|Done|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)|ERROR' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

windows:
	@$(DEPS) windows
	cmake -S windows -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake
	cmake --build $(WIN32_BUILD) -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

deb: build
	@$(DEPS) deb
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WIN32_BUILD)
