# make test   installs missing packages (as root), builds, runs the suite, then
#             runs it again under AddressSanitizer+UndefinedBehaviorSanitizer
#             and the concurrency tests under ThreadSanitizer, then the
#             tests of the Python and Node bindings (Node's when Node is
#             installed).
# make demo   builds the library and the quorvel tool and runs a round trip
#             of the bundled example.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

export ASAN_OPTIONS = detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS = halt_on_error=1:second_deadlock_stack=1

FUZZ_SECONDS ?= 60
FUZZERS = json_fuzzer policy_fuzzer encode_decode_fuzzer call_sequence_fuzzer

.PHONY: all deps build test test-plain test-asan test-tsan demo bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)

test-plain: build
	ctest --test-dir build --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	ctest --test-dir build-asan --output-on-failure -j$(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS) --target concurrency_tests
	ctest --test-dir build-tsan --output-on-failure -L concurrency -j$(JOBS)

test: test-plain test-asan test-tsan test-bindings

# The bindings' tests run against the plain build's library.
BINDINGS_LIB = $(CURDIR)/build/src/ffi/libquorvel_ffi.so

.PHONY: bindings-deps test-bindings test-python test-node bench-bindings

bindings-deps:
	@bash scripts/install-bindings-deps.sh

test-bindings: test-python test-node

test-python: build bindings-deps
	QUORVEL_LIB=$(BINDINGS_LIB) python3 bindings/python/run_tests.py

test-node: build bindings-deps
	@if command -v node >/dev/null 2>&1; then \
	  echo "QUORVEL_LIB=$(BINDINGS_LIB) node bindings/node/test/run.mjs"; \
	  QUORVEL_LIB=$(BINDINGS_LIB) node bindings/node/test/run.mjs; \
	else echo "Node is not installed: the Node binding's tests did not run"; fi

# Microseconds per encode of a 1 KiB payload: C, then through each binding.
bench-bindings: build bindings-deps
	@mkdir -p build/bindings
	cc -O2 -std=c99 -D_POSIX_C_SOURCE=199309L -Iinclude bindings/bench/encode_bench.c \
	  -Lbuild/src/ffi -lquorvel_ffi -Wl,-rpath,$(CURDIR)/build/src/ffi -o build/bindings/encode_bench
	./build/bindings/encode_bench examples/support_policy.json bindings/bench/payload_1k.json
	QUORVEL_LIB=$(BINDINGS_LIB) python3 bindings/python/bench_encode.py
	QUORVEL_LIB=$(BINDINGS_LIB) node bindings/node/bench/encode.mjs

demo: build
	./build/tools/quorvel roundtrip --policy examples/support_policy.json examples/chat_payload.json

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=ON
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/*_benchmark; do echo "== $$b"; $$b; done

fuzz: deps
	@bash scripts/install-deps.sh fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=address,undefined -DQUORVEL_BUILD_TESTS=OFF \
	  -DQUORVEL_WERROR=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j$(JOBS) --target fuzzers
	@bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS) $(FUZZERS)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
