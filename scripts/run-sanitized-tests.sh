#!/usr/bin/env bash
# Runs the suite again under AddressSanitizer and UndefinedBehaviorSanitizer (./build-asan).
# A sanitizer report ends the test that made it, so the run fails. What a sanitizer adds is
# the project's own code under it: the stores, the readers of outside input, the printer
# session, the layouts, the ticket issue. What only repeats the plain run's load is left to
# it: the tests labelled "xserver" (an X server of their own, waits for it to paint), and
# the concurrency test runs a tenth of its tickets. Only the programs of the tests that run
# are built. NX7_SANITIZE_BUILD_ONLY=1: build only.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
left_to_plain_run=xserver
# Sanitized code runs several times slower: every test is given three times its limit.
# -O1 and line tables only (-g1): what the sanitizers' reports need, at about 40 % less
# compile time than -O2 -g.
cmake -S . -B build-asan "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DNX7_TEST_TIMEOUT_SCALE=3 -DNX7_CONCURRENCY_TICKETS=100 >/dev/null
# The programs of the tests that run (cmake/Nx7.cmake), helpers with them.
cmake --build build-asan --parallel "$(nproc)" --target sanitized_suite
[ "${NX7_SANITIZE_BUILD_ONLY:-0}" = 1 ] && exit 0
cd build-asan
# halt_on_error: the first report ends the process with a failure code that ctest sees.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Leaks are reported except those of system libraries listed (with the reason) in the file.
export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizers/lsan.supp:print_suppressions=0"
# As many tests at once as there are cores: each starts its own servers on free ports.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 360 --parallel "$(nproc)" \
  -LE "$left_to_plain_run"
