#!/usr/bin/env bash
# Builds the threaded tests with ThreadSanitizer in build-tsan and runs them: host calls from two
# threads while a third processes audio, sixteen processors created and destroyed on two threads,
# the soak test (ORVALIS_SOAK_SECONDS, here 60 s of 192 kHz audio unless set), and orvalis-render's
# batch form on two workers (finishing, and interrupted). Any data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALIS_SANITIZE=thread \
      -DORVALIS_BUILD_BENCHMARKS=OFF
nice -n 10 cmake --build build-tsan -j"${ORVALIS_JOBS:-2}" --target orvalis_processor_tests orvalis_soak_tests orvalis_render_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
build-tsan/tests/processor/orvalis_processor_tests --gtest_filter='ProcessorThreads.*:ProcessorInstances.*'
ORVALIS_SOAK_SECONDS="${ORVALIS_SOAK_SECONDS:-60}" build-tsan/tests/soak/orvalis_soak_tests
# The renderer under test is the ThreadSanitizer build: a race makes it exit with TSan's status.
build-tsan/tests/render/orvalis_render_tests \
    --gtest_filter='RenderBatch.FolderOfMixedFiles*:RenderBatch.Interrupt*:RenderBatch.TargetTruePeak*'
