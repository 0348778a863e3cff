# Top-level entry points. Everything below goes through CMake; this file only
# strings the steps together so a fresh Debian 12 machine needs one command.

ROOT      := $(abspath .)
BUILD     := $(ROOT)/build
NATIVE    := $(BUILD)/native
WIN       := $(BUILD)/win64
WIN32     := $(BUILD)/win32
JOBS      ?= $(shell nproc)

.PHONY: all deps configure build native win win32 test test-native test-win32 test-e2e run bench dist clean

all: build

deps:
	@bash lab/install-deps.sh

$(NATIVE)/CMakeCache.txt:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug -DPARLO_SANITIZE=ON

# The tested Windows build (x86_64, runs under wine64) and the shipped one (i686).
$(WIN)/CMakeCache.txt:
	cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake

$(WIN32)/CMakeCache.txt:
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake

configure: deps $(NATIVE)/CMakeCache.txt $(WIN)/CMakeCache.txt $(WIN32)/CMakeCache.txt

native: deps $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

win: deps $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

win32: deps $(WIN32)/CMakeCache.txt
	cmake --build $(WIN32) -j $(JOBS) --target ParloMgr ParloHost VSPDCTL

build: native win win32

test-native: native
	cd $(NATIVE) && ctest --output-on-failure

test-win32: win
	bash lab/in-lab.sh bash lab/with-wine.sh --name win32 -- ctest --test-dir $(WIN) --output-on-failure

test-e2e: build
	bash lab/in-lab.sh bash tests/e2e/run.sh

test: build
	bash lab/run-tests.sh

run: build
	bash lab/run.sh

bench: build
	bash lab/bench.sh

# The shipped binaries (i686) with installation notes.
dist: win32
	rm -rf $(BUILD)/dist && mkdir -p $(BUILD)/dist/ParloMgr
	cp $(WIN32)/bin/ParloMgr.exe $(WIN32)/bin/ParloHost.exe $(WIN32)/bin/VSPDCTL.DLL $(BUILD)/dist/ParloMgr/
	sed 's/$$/\r/' dist/INSTALL.txt > $(BUILD)/dist/ParloMgr/INSTALL.txt
	cd $(BUILD)/dist && zip -q -r ParloMgr-3.3.3.zip ParloMgr
	@echo "dist: $(BUILD)/dist/ParloMgr-3.3.3.zip"

clean:
	rm -rf $(BUILD)
