# Front door: `make run` and `make test` do all the set-up on a fresh Debian 12.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
.ONESHELL:
.SHELLFLAGS := -euo pipefail -c

JOBS ?= $(shell nproc)
WIN32_DIR := build/win32
WIN64_DIR := build/win64
NATIVE_DIR := build/native
TSAN_DIR := build/tsan
CHRONYD := build/chrony/usr/sbin/chronyd
HELP_PICTURES := docs/pendulark.png docs/tray-menu.png docs/about.png docs/options.png docs/message.png \
	docs/time-zone.png docs/sumwick.png docs/history.png
# The version has one home, base/program.h.
VERSION := $(shell sed -n 's/^\#define PROGRAM_VERSION_TEXT "\(.*\)"/\1/p' base/program.h)
RELEASE_ZIP := build/Pendulark-$(VERSION).zip
RELEASE_SETUP := build/Pendulark-$(VERSION)-setup.exe
X64_SETUP := build/Pendulark-$(VERSION)-setup-x64.exe
SETUP_INPUTS := installer/pendulark.nsi docs/ReadMe.htm $(HELP_PICTURES)

# The kernel of some Linux hosts runs no 32-bit code, and then Wine cannot run
# the i686 programs; the tiers that need Wine then run the x86_64 build of the
# same sources. The shipped programs are always the i686 ones.
# `make test WINE_ARCH=x86_64` takes that path on any host, so both can be tried.
WINE_ARCH ?= $(shell tools/host-runs-i386 && echo i686 || echo x86_64)
ifeq ($(WINE_ARCH),x86_64)
WINE_DIR := $(WIN64_DIR)
# The same installer script around the programs that Wine runs here; the i686
# release is not built for the tests, since no test here could run it.
WINE_SETUP := $(X64_SETUP)
WINE_BUILD_FIRST :=
else
WINE_DIR := $(WIN32_DIR)
WINE_SETUP := $(RELEASE_SETUP)
WINE_BUILD_FIRST := build
endif

.PHONY: all deps build release screenshots screenshots-dpi wine-build run run-sumwick test test-deps test-native \
	test-tsan test-wine test-e2e test-fuzz bench soak clean

all: build

# The packages (the i386 ones only where this host runs 32-bit code) and the
# Chinese locale: a moment's check when all is there, so every run makes sure.
deps:
	tools/setup-deps.sh

$(WIN32_DIR)/Makefile: | deps
	cmake -S . -B $(WIN32_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
		-DPENDULARK_TESTS=ON >/dev/null

build: $(WIN32_DIR)/Makefile
	cmake --build $(WIN32_DIR) -j$(JOBS) --target Pendulark Sumwick
	mkdir -p build/bin
	# Copies keep their times, so that the zip and the setup are packed again only when a program changed.
	cp -p $(WIN32_DIR)/bin/Pendulark.exe $(WIN32_DIR)/bin/Sumwick.exe build/bin/
	# The help document that every Help button opens, with its pictures, beside the programs.
	cp -p docs/ReadMe.htm $(HELP_PICTURES) build/bin/
	file build/bin/Pendulark.exe build/bin/Sumwick.exe

$(WIN64_DIR)/Makefile: | deps
	cmake -S . -B $(WIN64_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
		-DPENDULARK_TESTS=ON >/dev/null

# The programs and tools that Wine runs here, built for what this host can run,
# with the help document beside them as it is beside the shipped programs.
wine-build: $(WINE_BUILD_FIRST) $(WINE_DIR)/Makefile
	if [ "$(WINE_ARCH)" = x86_64 ]; then
		echo "note: Wine runs the x86_64 build of the same sources here"
	fi
	cmake --build $(WINE_DIR) -j$(JOBS)
	cp -p docs/ReadMe.htm $(HELP_PICTURES) $(WINE_DIR)/bin/

run: wine-build
	tools/run-pendulark.sh $(WINE_DIR)/bin

# Pictures of every window for the README and the help document, into docs/,
# of the copy that the setup installs; and the main window and Options at 150 %.
screenshots: wine-build release
	$(MAKE) $(WINE_SETUP)
	tools/screenshots.sh $(WINE_DIR)/bin $(WINE_SETUP)
	tools/screenshots.sh --dpi 144 $(WINE_DIR)/bin $(WINE_SETUP)
	cp build/shots-144/pendulark.png docs/pendulark-150.png
	cp build/shots-144/options.png docs/options-150.png
	cp build/shots-144/history.png docs/history-150.png

# Every window at another scale into build/shots-DPI/, to look at: 144 is
# 150 %, 192 is 200 %.
DPI ?= 144
screenshots-dpi: wine-build release
	$(MAKE) $(WINE_SETUP)
	tools/screenshots.sh --dpi $(DPI) $(WINE_DIR)/bin $(WINE_SETUP)

run-sumwick: wine-build
	tools/run-sumwick.sh $(WINE_DIR)/bin

# The programs and the help document in one zip, and the Windows installer.
# Each is packed again only when what it holds changed; `build` runs first.
release: build
	$(MAKE) $(RELEASE_ZIP) $(RELEASE_SETUP)

$(RELEASE_ZIP): build/bin/Pendulark.exe build/bin/Sumwick.exe $(SETUP_INPUTS)
	rm -f $@
	(cd build/bin && python3 -m zipfile -c $(CURDIR)/$@ Pendulark.exe Sumwick.exe ReadMe.htm \
		$(notdir $(HELP_PICTURES)))
	python3 -m zipfile -l $@

$(RELEASE_SETUP): build/bin/Pendulark.exe build/bin/Sumwick.exe $(SETUP_INPUTS)
	makensis -V2 -DVERSION=$(VERSION) -DBIN=$(CURDIR)/build/bin -DOUT=$(CURDIR)/$@ installer/pendulark.nsi
	file $@ | grep -q 'PE32 executable.*Intel 80386.*Nullsoft Installer' || \
		{ file $@; echo "$@ is no 32-bit NSIS installer"; exit 1; }
	file $@

# Where Wine runs only x86_64 programs, the installer's test packs the same
# script around them.
$(X64_SETUP): $(WIN64_DIR)/bin/Pendulark.exe $(WIN64_DIR)/bin/Sumwick.exe $(SETUP_INPUTS)
	makensis -V2 -X"Target amd64-unicode" -DVERSION=$(VERSION) -DBIN=$(CURDIR)/$(WIN64_DIR)/bin \
		-DOUT=$(CURDIR)/$@ installer/pendulark.nsi
	file $@

# Each tier's wall time is printed at the end, passed or not, so that the
# next slow tier shows itself; "deps" is the packages the first run installs.
# The fuzzers run beside the e2e tier at the lowest priority: its tests mostly
# wait on Wine and on the program's own clock, and the fuzzers take the CPU
# that this leaves, so both end in about the e2e tier's time.
TIERS := deps native tsan wine
test:
	rm -f build/tier-times
	mkdir -p build
	trap 'echo "wall time of each tier:"; cat build/tier-times' EXIT
	timed() {
		local start=$$(date +%s) code=0
		$(MAKE) test-$$1 || code=$$?
		printf '  %-7s %4d s%s\n' $$1 $$(( $$(date +%s) - start )) "$${2:-}" >> build/tier-times
		return $$code
	}
	for tier in $(TIERS); do
		timed $$tier
	done
	(renice -n 19 -p $$BASHPID >/dev/null; timed fuzz " (beside e2e)" > build/fuzz-tier.log 2>&1) &
	fuzz=$$!
	e2e=0
	timed e2e || e2e=$$?
	fuzzed=0
	wait $$fuzz || fuzzed=$$?
	cat build/fuzz-tier.log
	# Not "a && b": under -e a failing list's first command ends nothing.
	if [ $$e2e != 0 ] || [ $$fuzzed != 0 ]; then
		exit 1
	fi
	echo "all test tiers passed"

# The set-up itself, against stand-ins for apt-get and dpkg.
test-deps: deps $(CHRONYD)
	python3 -m unittest tests/setup/test_setup_deps.py

# One clang build (libFuzzer is clang's) for the native tests and the fuzz
# targets: the code is instrumented for both, and compiled once.
CLANG := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
NATIVE_CMAKE := cmake -S . -B $(NATIVE_DIR) -DCMAKE_BUILD_TYPE=Debug $(CLANG) >/dev/null

test-native: deps
	$(NATIVE_CMAKE)
	cmake --build $(NATIVE_DIR) -j$(JOBS)
	cd $(NATIVE_DIR) && ctest --output-on-failure

# Threads and shared words, under ThreadSanitizer: every test that runs a
# thread carries the prefix "Threaded" in its suite's name.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug $(CLANG) -DPENDULARK_SANITIZE=thread >/dev/null
	cmake --build $(TSAN_DIR) -j$(JOBS) --target threaded_tests
	TSAN_OPTIONS=suppressions=$(CURDIR)/tests/native/tsan.supp timeout 300 \
		tests/run-shards.sh $(TSAN_DIR)/threaded_tests 8 --gtest_filter='Threaded*'

test-fuzz: deps
	$(NATIVE_CMAKE)
	cmake --build $(NATIVE_DIR) -j$(JOBS)
	tests/fuzz/run-all.sh $(NATIVE_DIR) 20

# The Wine tiers run in a network namespace of their own: a time server that
# another program on this machine runs on port 37 or 123 would answer them.
test-wine: wine-build
	cd $(WINE_DIR) && $(CURDIR)/tests/own-network.sh ctest --output-on-failure --timeout 300

# chrony's chronyd, the e2e tier's SNTP client, is unpacked and never
# installed: installing would start a time service that sets this clock. The
# libraries it needs come with Wine and clang.
$(CHRONYD): | deps
	rm -rf build/chrony
	tools/setup-deps.sh --download chrony build/chrony
	dpkg -x build/chrony/chrony_*.deb build/chrony
	$@ -v && touch $@

test-e2e: wine-build $(CHRONYD)
	$(MAKE) $(WINE_SETUP)
	PENDULARK_SETUP=$(CURDIR)/$(WINE_SETUP) tests/own-network.sh python3 tests/e2e/run_all.py $(WINE_DIR)/bin

# Knobs of the Wine part, e.g. BENCH_ARGS="--corrects 60 --rounds 5": see tests/bench/pendulark_bench.py.
# chronyd is the reference for the SNTP server's replies per second. The
# clock's discipline is weighed against stepping only, over BENCH_SEEDS seeds.
BENCH_SEEDS ?= 5
bench: wine-build $(CHRONYD)
	cmake --build $(WINE_DIR) -j$(JOBS) --target bare_time_server bare_sntp_server bare_sntp_client
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPENDULARK_SANITIZE= >/dev/null
	cmake --build build/bench -j$(JOBS) --target md5_bench clock_discipline_bench
	python3 tests/bench/clock_discipline_table.py build/bench/clock_discipline_bench --seeds $(BENCH_SEEDS)
	build/bench/md5_bench
	python3 tests/bench/pendulark_bench.py $(WINE_DIR)/bin $(BENCH_ARGS)

# The real program under Wine in long use, watched for growth: the table and
# the picture go to build/soak/. See tests/soak/soak.py.
SOAK_MINUTES ?= 30
soak: wine-build
	python3 tests/soak/soak.py $(WINE_DIR)/bin --minutes $(SOAK_MINUTES)

clean:
	rm -rf build
