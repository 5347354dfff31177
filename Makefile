# Entry points for newcomers and CI. Every target installs what is missing and builds first.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build test test-release test-asan run cli-demo bench screenshots install package clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite, then the non-UI suites again under AddressSanitizer and UBSan. Allocations keep
# no call stacks (malloc_context_size=0): the parsers build large tables at start, and recording a
# stack per allocation made every run of the command line seconds slower.
test: test-release test-asan

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DHITSIEVE_SANITIZE=ON \
	  -DHITSIEVE_BUILD_UI=OFF -DHITSIEVE_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:malloc_context_size=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The desktop program; the statistics database is dat1.dt here if there is one, else
# ~/.local/share/hitsieve/dat1.dt (see README, "Where the database lives").
run: build
	$(BUILD)/ui/hitsieve

# The command-line tool on the bundled sample, into a scratch database.
cli-demo: build
	$(BUILD)/cli/hitsieve-cli analyse --db $(BUILD)/sample.dt tests/data/sample.log.gz
	$(BUILD)/cli/hitsieve-cli report common --db $(BUILD)/sample.dt

bench: build
	bench/run-benchmarks $(BUILD)

# The report page of 100,000 rows each: its size and how fast headless Chromium makes it usable.
.PHONY: bench-html
bench-html: build
	bench/html_report_load.py $(BUILD)

# hitsieve-cli against webalizer and plain reading on a generated month of a busy site (takes
# minutes; installs webalizer and GNU time if missing). Not part of test.
.PHONY: bench-compare
bench-compare: build
	bench/compare-speed $(BUILD)

screenshots: build
	scripts/screenshots $(BUILD)
	scripts/report-page-screenshots $(BUILD)

install: build
	cmake --install $(BUILD)

# A Debian package of both programs in $(BUILD)/ (hitsieve_<version>_<arch>.deb).
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
