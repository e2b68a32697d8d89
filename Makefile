# Front door over CMake. `make example` and `make test` each install what is
# missing, configure and build, then run.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DMORVEX_WERROR=ON
endif

PREFIX     ?= /usr/local

.PHONY: all deps configure build example graphs test build-asan test-asan test-asan-e2e bench install package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) --parallel

# The examples run the program alone: the unit tests, the benchmarks and the
# test libraries are left for `make test`.
example: configure
	@cmake --build $(BUILD) --parallel --target morvex
	@examples/run-examples $(BUILD)/morvex

# The picture of an example project that the manual shows: the DOT text from
# the program, and the SVG from Graphviz when it is installed (it is optional;
# without it the SVG is left as it is). A unit test fails when the DOT no
# longer matches the project.
GRAPH_PROJECT = examples/streams/streams.morvex
GRAPH_PICTURE = docs/streams-graph
graphs: configure
	@cmake --build $(BUILD) --parallel --target morvex
	@$(BUILD)/morvex -q --graph $(GRAPH_PROJECT) > $(GRAPH_PICTURE).dot
	@if command -v dot > /dev/null; then dot -Tsvg $(GRAPH_PICTURE).dot -o $(GRAPH_PICTURE).svg; \
	else echo "Graphviz is not installed: $(GRAPH_PICTURE).svg is left as it is"; fi

test: build
	@scripts/run-tests $(BUILD)

# The program and the tests under AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVEX_SANITIZE=ON -DMORVEX_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan --parallel

# What the embedded Python runtime holds at exit is not reported as a leak
# (tests/sanitizers/lsan.supp says why).
LSAN = LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0

# Unit tests again under the sanitizers.
test-asan: build-asan
	@ASAN_OPTIONS=detect_leaks=1 $(LSAN) UBSAN_OPTIONS=print_stacktrace=1 scripts/run-tests build-asan -L unit -j2

# The end-to-end cases on the program built for test-asan: a sanitizer report
# changes the console output, so the case fails. large-values-read-back moves
# 22 MB values through the writers and takes minutes under the sanitizers; the
# plain build runs it.
test-asan-e2e: build-asan
	@ASAN_OPTIONS=detect_leaks=1 $(LSAN) UBSAN_OPTIONS=print_stacktrace=1 scripts/run-tests build-asan -L e2e -E large-values-read-back -j2

# One table of every benchmark beside its peer on ROWS orders, then the
# streaming paths' memory on BIG orders (BIG=0 leaves that part out), e.g.
# `make bench ROWS=20000 BIG=0`. See bench/run-all.
ROWS ?= 1000000
BIG  ?= 10000000
bench: build
	@bench/run-all $(BUILD) $(ROWS) $(BIG)

# Installs bin/morvex, the man page, the bash completion and share/doc/morvex
# under PREFIX (DESTDIR is honoured for staged installs).
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, written to $(BUILD)/morvex_<version>_<arch>.deb.
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-asan
