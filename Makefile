# Top-level entry points. Everything below goes through CMake; this file only
# strings the steps together so a fresh Debian 12 machine needs one command.

ROOT      := $(abspath .)
BUILD     := $(ROOT)/build
NATIVE    := $(BUILD)/native
WIN       := $(BUILD)/win64
WIN32     := $(BUILD)/win32
JOBS      ?= $(shell nproc)
# The version is set once, in CMakeLists.txt's project(); the zip, the
# installer and INSTALL.txt are named by its first three parts.
VERSION   := $(shell sed -n '/^project/s/.*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
RELEASE   := $(shell echo '$(VERSION)' | cut -d. -f1-3)

.PHONY: all deps configure build native win win32 test test-native test-win32 test-e2e run bench dist clean

all: build

deps:
	@bash lab/install-deps.sh

$(NATIVE)/CMakeCache.txt:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug -DPARLO_SANITIZE=ON

# The shipped Windows build (i686), which the tests run under 32-bit Wine, and
# the x86_64 one they fall back to where 32-bit Wine cannot run (lab/test-build.sh).
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
	cmake --build $(WIN32) -j $(JOBS)

build: native win win32

test-native: native
	cd $(NATIVE) && ctest --output-on-failure

test-win32: win win32
	bash lab/in-lab.sh bash lab/with-wine.sh --name win32 -- ctest --test-dir "$$(bash lab/test-build.sh)" --output-on-failure

test-e2e: build dist
	bash lab/in-lab.sh bash tests/e2e/run.sh

test: build dist
	bash lab/run-tests.sh

run: build
	bash lab/run.sh

bench: build
	bash lab/bench.sh

# The shipped binaries (i686): the installer, and a zip with installation notes.
dist: win32
	@case '$(VERSION)' in *.*.*.*) ;; *) echo "dist: no four-part version in CMakeLists.txt's project()" >&2; exit 1 ;; esac
	rm -rf $(BUILD)/dist && mkdir -p $(BUILD)/dist/ParloMgr
	cp $(WIN32)/bin/ParloMgr.exe $(WIN32)/bin/ParloHost.exe $(WIN32)/bin/VSPDCTL.DLL $(BUILD)/dist/ParloMgr/
	sed -e 's/@RELEASE@/$(RELEASE)/g' -e 's/$$/\r/' dist/INSTALL.txt > $(BUILD)/dist/ParloMgr/INSTALL.txt
	cd $(BUILD)/dist && zip -q -r ParloMgr-$(RELEASE).zip ParloMgr
	makensis -V2 -DBIN=$(WIN32)/bin -DVERSION=$(RELEASE) -DFILE_VERSION=$(VERSION) \
	         -DOUTFILE=$(BUILD)/dist/ParloMgr-$(RELEASE)-setup.exe dist/parlomgr.nsi
	@echo "dist: $(BUILD)/dist/ParloMgr-$(RELEASE)-setup.exe $(BUILD)/dist/ParloMgr-$(RELEASE).zip"

clean:
	rm -rf $(BUILD)
