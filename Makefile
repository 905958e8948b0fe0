# Front door for the common tasks; CMake does the real work.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
GENERATOR  := $(if $(shell command -v ninja),-G Ninja,)

.PHONY: all build test sanitize fuzz clean programs demo install package

all: build

build:
	@cmake -S . -B $(BUILD) $(GENERATOR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	@cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DSANITIZE=ON -DBUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The agent and the terminal simulator only, for trying and installing them.
programs:
	@cmake -S . -B $(BUILD) $(GENERATOR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target agent pinpad-sim

# A file fetched over HTTP through the agent from a simulated PIN pad.
demo: programs
	@scripts/demo.sh $(BUILD)/bin demo

# make install [PREFIX=/opt/pinpad-agent]; DESTDIR is honoured as usual.
install: programs
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package of what make install puts in place.
package: programs
	cd $(BUILD) && cpack

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
