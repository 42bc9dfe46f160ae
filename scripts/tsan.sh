#!/usr/bin/env bash
# Builds the processor tests with ThreadSanitizer in build-tsan and runs the threading test:
# host calls from two threads while a third processes audio. Any data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALIS_SANITIZE=thread \
      -DORVALIS_BUILD_BENCHMARKS=OFF
nice -n 10 cmake --build build-tsan -j"${ORVALIS_JOBS:-2}" --target orvalis_processor_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    build-tsan/tests/processor/orvalis_processor_tests --gtest_filter='ProcessorThreads.*'
