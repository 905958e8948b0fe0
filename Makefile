# Front door for the common tasks; CMake does the real work.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME  ?= 60
FUZZERS    ?= fuzz_line_protocol fuzz_commlog_decode fuzz_http_request fuzz_http_response \
              fuzz_url fuzz_status_json
JOBS       ?= $(shell nproc)
GENERATOR  := $(if $(shell command -v ninja),-G Ninja,)

.PHONY: all build test sanitize fuzz clean programs demo install package soak bench scan

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

# Coverage-guided fuzzing with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer; each fuzzer runs for FUZZ_TIME seconds and keeps
# its corpus in $(FUZZ_BUILD)/corpus, and any input that fails it in
# $(FUZZ_BUILD).
fuzz:
	@cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_CXX_COMPILER=clang++ -DBUILD_FUZZERS=ON \
		-DBUILD_TESTS=OFF -DBUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZERS)
	@for f in $(FUZZERS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$f && \
		$(FUZZ_BUILD)/bin/$$f -max_total_time=$(FUZZ_TIME) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus/$$f || exit 1; \
	done

# The long soak runs of the tunnel (minutes): transfers at bit-error rates
# from 0 to 1e-3, the line's troubles, a 64 MiB flood, 10,000 calls. Each
# prints what it measured.
soak: build
	TEST_TOOLS_DIR=$(CURDIR)/$(BUILD)/bin $(BUILD)/bin/tunnel_soak

# Many seeds of the checked in-memory transfers at once, one table row:
# make scan ARGS="--terminal model --ber 1e-4 --seeds 1000" (tunnel_scan --help
# lists the options).
scan: build
	$(BUILD)/bin/tunnel_scan $(ARGS)

# The tunnel's performance on the real agent behind a line paced at 11520
# bytes/s: a table on the terminal, the figures in $(BUILD)/bench.json.
bench: build
	TEST_TOOLS_DIR=$(CURDIR)/$(BUILD)/bin BENCH_JSON=$(CURDIR)/$(BUILD)/bench.json \
		$(BUILD)/bin/tunnel_bench

# The agent, the terminal simulator and the log reader only, for trying and
# installing them.
programs:
	@cmake -S . -B $(BUILD) $(GENERATOR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target agent pinpad-sim commlog-decode

# A file fetched over HTTP through the agent from a simulated PIN pad.
demo: programs
	@scripts/demo.sh $(BUILD)/bin demo

# make install [PREFIX=/usr/local]: the programs stripped under PREFIX (by
# default /usr), the settings in /etc/pinpad-agent, the units, the service
# user and the log directories; DESTDIR is honoured as usual.
install: programs
	cmake --install $(BUILD) --strip $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package of the same layout in $(BUILD), its debug symbols in a
# -dbgsym package beside it.
package: programs
	cd $(BUILD) && cpack

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
