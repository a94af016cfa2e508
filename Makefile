# make run: build and start the program.  make test: build and run every test.
# make bench: build and run the benchmarks.  make windows: build-win32/kelvra.exe, the 32-bit
# Windows program, with mingw-w64.  make install PREFIX=...: install the built program.
# Each first installs the Debian packages it needs.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
WIN32_BUILD ?= build-win32
PREFIX ?= /usr/local

.PHONY: all deps configure build run test bench windows install deb clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/kelvra

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

bench: build
	@./bench/run.sh $(BUILD)

windows: deps
	cmake -S windows -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake
	cmake --build $(WIN32_BUILD) -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

deb: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(WIN32_BUILD)
