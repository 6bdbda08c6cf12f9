# make test   installs missing packages (as root), builds, runs the suite, then
#             runs it again under AddressSanitizer+UndefinedBehaviorSanitizer
#             and the concurrency tests under ThreadSanitizer.
# make demo   builds the library and the quorvel tool and runs a round trip
#             of the bundled example.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

export ASAN_OPTIONS = detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS = halt_on_error=1:second_deadlock_stack=1

.PHONY: all deps build test test-plain test-asan test-tsan demo bench clean

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
	cmake --build build-tsan -j$(JOBS)
	ctest --test-dir build-tsan --output-on-failure -L concurrency -j$(JOBS)

test: test-plain test-asan test-tsan

demo: build
	./build/tools/quorvel roundtrip --policy examples/support_policy.json examples/chat_payload.json

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=ON
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/*_benchmark; do echo "== $$b"; $$b; done

clean:
	rm -rf build build-asan build-tsan build-bench
