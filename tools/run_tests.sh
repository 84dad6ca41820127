#!/usr/bin/env bash
# Runs every test: the C++ unit tests (plain and under AddressSanitizer +
# UndefinedBehaviorSanitizer) through CTest, then the Python package is
# installed and tested with pytest. Installs what it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need_apt+=(libbenchmark-dev)
command -v g++ >/dev/null || need_apt+=(g++)
command -v clang++ >/dev/null || need_apt+=(clang)
if [ ${#need_apt[@]} -gt 0 ]; then
  echo "== installing ${need_apt[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi
python3 -m pip --version >/dev/null
py_need=()
python3 -c "import scikit_build_core" 2>/dev/null || py_need+=(scikit-build-core)
python3 -c "import pytest" 2>/dev/null || py_need+=(pytest)
python3 -c "import hypothesis" 2>/dev/null || py_need+=(hypothesis)
command -v cmake >/dev/null || py_need+=(cmake)
command -v ninja >/dev/null || py_need+=(ninja)
if [ ${#py_need[@]} -gt 0 ]; then
  echo "== installing ${py_need[*]}"
  python3 -m pip install -q "${py_need[@]}"
fi

# Reading outputs: a real browser for the page tests, epubcheck for the
# EPUB tests, a CJK font so pages show text, Selenium to drive the browser.
read_apt=()
command -v chromium >/dev/null || read_apt+=(chromium)
command -v chromedriver >/dev/null || read_apt+=(chromium-driver)
command -v epubcheck >/dev/null || read_apt+=(epubcheck)
command -v java >/dev/null || read_apt+=(default-jre-headless)
fc-list :lang=ja 2>/dev/null | grep -q . || read_apt+=(fonts-noto-cjk)
if [ ${#read_apt[@]} -gt 0 ]; then
  echo "== installing ${read_apt[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${read_apt[@]}" >/dev/null
fi
python3 -c "import selenium" 2>/dev/null || { echo "== installing selenium"; python3 -m pip install -q selenium; }

# The command line and the batch runner: click and rich, and Dask distributed
# so that the batch test on a local cluster runs instead of being skipped.
cli_need=()
python3 -c "import click" 2>/dev/null || cli_need+=("click>=8.1")
python3 -c "import rich" 2>/dev/null || cli_need+=("rich>=13")
python3 -c "import distributed" 2>/dev/null || cli_need+=(distributed)
if [ ${#cli_need[@]} -gt 0 ]; then
  echo "== installing ${cli_need[*]}"
  python3 -m pip install -q "${cli_need[@]}"
fi

run_ctest() {
  local dir=$1; shift
  echo "== C++ tests ($dir)"
  cmake -S . -B "$dir" -G Ninja -DKOGANE_BUILD_TESTS=ON -DKOGANE_BUILD_PYTHON=OFF -DKOGANE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# The C++ benchmarks are built here too (not run), so they keep up with
# the engine.
run_ctest build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOGANE_BUILD_BENCH=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build/asan -DCMAKE_BUILD_TYPE=Debug -DKOGANE_SANITIZE=ON

echo "== fuzzing: a short run over the committed seeds"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DKOGANE_BUILD_FUZZ=ON -DKOGANE_BUILD_PYTHON=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzz_parse fuzz_scan fuzz_targets
mkdir -p build/fuzz/corpus
# A fixed seed keeps the pass repeatable: what fails here fails the same way
# on the next run (KOGANE_FUZZ_SEED=0 draws a fresh one).
build/fuzz/fuzz/fuzz_parse -max_total_time="${KOGANE_FUZZ_SECONDS:-120}" -seed="${KOGANE_FUZZ_SEED:-1}" \
  -max_len=8192 -dict=fuzz/kogane.dict -print_final_stats=1 \
  build/fuzz/corpus fuzz/seeds 2>&1 | tail -n 12
# Every vector scanner path against the scalar one; short inputs already
# cover every alignment.
mkdir -p build/fuzz/corpus_scan
build/fuzz/fuzz/fuzz_scan -max_total_time="${KOGANE_FUZZ_SCAN_SECONDS:-30}" -seed=1 \
  -max_len=512 -dict=fuzz/kogane.dict -print_final_stats=1 \
  build/fuzz/corpus_scan fuzz/seeds_scan 2>&1 | tail -n 12
# The quote index's one-pass target batch against a plain search.
mkdir -p build/fuzz/corpus_targets
build/fuzz/fuzz/fuzz_targets -max_total_time="${KOGANE_FUZZ_TARGETS_SECONDS:-20}" -seed=1 \
  -max_len=4096 -print_final_stats=1 build/fuzz/corpus_targets fuzz/seeds_targets 2>&1 | tail -n 6

# --- threads: the thread tests alone, under ThreadSanitizer
echo "== thread tests under ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DKOGANE_BUILD_TESTS=ON -DKOGANE_BUILD_PYTHON=OFF -DKOGANE_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOGANE_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target kogane_thread_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/kogane_thread_tests
# --- end threads

# --- binding failure modes: allocation failures walked through every engine call
echo "== allocation failures (module built with KOGANE_FAULT_INJECTION)"
bash tools/dev_python.sh build/fault -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOGANE_FAULT_INJECTION=ON >/dev/null
PYTHONPATH=build/fault/pkg python3 -m pytest -q tests/python/test_binding_memory.py
# --- end binding failure modes

echo "== Python package"
python3 -m pip install -q --no-build-isolation -Ccmake.define.KOGANE_WERROR=ON .
echo "== Python tests"
python3 -m pytest -q tests/python
